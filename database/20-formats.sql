-- File formats, read and written by the extension module in C++. The module
-- is loaded by its absolute path, so nothing is installed into the server's
-- own folders; it is loaded at the first call, so the catalog can be created
-- before the module is built.
set check_function_bodies = off;

-- Every row of the first worksheet of a BIFF workbook (.xls): the sheet's
-- name, the row's number as the spreadsheet shows it and its cells as text
-- (null for an empty cell).
create function morvel_xls_sheet(path text)
    returns table (sheet text, row_no integer, cells text[])
    as '@MORVEL_PGMODULE@', 'morvel_xls_sheet'
    language c strict volatile;

-- Every row of a table of an SQLite file: its position, the named text
-- columns as text and the named blob columns as bytes.
create function morvel_sqlite_read(path text, table_name text, text_columns text[],
                                   blob_columns text[])
    returns table (row_no bigint, texts text[], blobs bytea[])
    as '@MORVEL_PGMODULE@', 'morvel_sqlite_read'
    language c strict volatile;

-- Replaces the rows of an existing table of an existing SQLite file by the
-- rows of a two-dimensional text array, one column per name; returns the
-- number of rows written.
create function morvel_sqlite_replace(path text, table_name text, columns text[], cells text[])
    returns integer
    as '@MORVEL_PGMODULE@', 'morvel_sqlite_replace'
    language c strict volatile;

revoke execute on function morvel_xls_sheet(text), morvel_sqlite_read(text, text, text[], text[]),
    morvel_sqlite_replace(text, text, text[], text[]) from public;

reset check_function_bodies;
