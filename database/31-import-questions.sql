-- ImportQuestion(filename): the question bank from an SQLite file (the
-- platform's Access database, *.mdb) with the tables
--   选择题 (ID, subject, a, b, c, d, answer, pic)
--   判断题 (ID, subject, answer, pic)
--   填空题 (ID, subject, answer, pic)
--   操作题 (ID, subject1, subject2, subject3, pic1, pic2, pic3, ExamFolder)
-- It replaces the four tables of the catalog as a whole, in one transaction:
-- a missing file, table or column, or a value that doesn't fit its column,
-- changes nothing.

-- The checks of single values; `place` says where the value stands.

create function morvel_bank_id(value text, place text) returns integer
    language plpgsql immutable
as $$
declare
    v text := morvel_trim(value);
begin
    if v is null or v = '' then
        raise exception '%：ID为空', place using errcode = 'null_value_not_allowed';
    end if;
    if v !~ '^[+-]?[0-9]{1,10}$' or v::bigint not between -2147483648 and 2147483647 then
        raise exception '%：ID“%”不是整数', place, value
            using errcode = 'invalid_text_representation';
    end if;
    return v::integer;
end
$$;

create function morvel_bank_text(value text, width integer, place text, column_name text)
    returns text
    language plpgsql immutable
as $$
begin
    if char_length(value) > width then
        raise exception '%：列“%”超过%个字符', place, column_name, width
            using errcode = 'string_data_right_truncation';
    end if;
    return value;
end
$$;

-- A picture is a JPEG file or nothing.
create function morvel_bank_picture(value bytea, place text, column_name text) returns bytea
    language plpgsql immutable
as $$
begin
    if value is null or length(value) = 0 then
        return null;
    end if;
    if length(value) < 3 or substring(value from 1 for 3) <> '\xffd8ff'::bytea then
        raise exception '%：列“%”不是 JPEG 图片', place, column_name
            using errcode = 'invalid_binary_representation';
    end if;
    return value;
end
$$;

create function morvel_bank_answer(value text, kind integer, place text) returns text
    language plpgsql immutable
as $$
declare
    v text := morvel_trim(value);
begin
    if v is null or v = '' then
        raise exception '%：答案为空', place using errcode = 'null_value_not_allowed';
    end if;
    if kind = 1 then
        v := upper(v);
        if v not in ('A', 'B', 'C', 'D') then
            raise exception '%：答案“%”不是 A、B、C、D 之一', place, value
                using errcode = 'invalid_text_representation';
        end if;
    elsif kind = 2 then
        if v not in ('1', '0') then
            raise exception '%：答案“%”不是 1（是）或 0（否）', place, value
                using errcode = 'invalid_text_representation';
        end if;
    else
        -- The examinee's answer column holds 50 bytes of GBK text: a longer
        -- answer could never be given.
        begin
            if not morvel_gbk_fits(v, 50) then
                raise exception '%：答案超过50个字节（一个汉字占两个字节）', place
                    using errcode = 'string_data_right_truncation';
            end if;
        exception
            when untranslatable_character then
                raise exception '%：答案“%”含有 GBK 编码以外的字符', place, value
                    using errcode = 'untranslatable_character';
        end;
    end if;
    return v;
end
$$;

create function morvel_bank_place(filename text, table_name text, row_no bigint) returns text
    language sql immutable
    return format('题库“%s”表“%s”第%s行', filename, table_name, row_no);

-- Refuses a second question with the same ID in one table.
create function morvel_bank_unique(table_name text, id integer, place text) returns integer
    language plpgsql stable
as $$
declare
    taken boolean;
begin
    execute format('select exists (select 1 from %I where id = $1)', table_name)
        into taken using id;
    if taken then
        raise exception '%：ID % 重复', place, id using errcode = 'unique_violation';
    end if;
    return id;
end
$$;

create procedure importquestion(filename text)
language plpgsql
as $$
declare
    r record;
    place text;
    entry text[];
begin
    perform morvel_require_path(filename, '装载试题：没有给出题库文件名');

    delete from 选择题;
    delete from 判断题;
    delete from 填空题;
    delete from 操作题;

    for r in select * from morvel_sqlite_read(filename, '选择题',
                 array['ID', 'subject', 'a', 'b', 'c', 'd', 'answer'], array['pic'])
             order by row_no loop
        place := morvel_bank_place(filename, '选择题', r.row_no);
        insert into 选择题 (id, subject, a, b, c, d, answer, pic)
            values (morvel_bank_unique('选择题', morvel_bank_id(r.texts[1], place), place),
                    morvel_bank_text(r.texts[2], 200, place, 'subject'),
                    morvel_bank_text(r.texts[3], 50, place, 'a'),
                    morvel_bank_text(r.texts[4], 50, place, 'b'),
                    morvel_bank_text(r.texts[5], 50, place, 'c'),
                    morvel_bank_text(r.texts[6], 50, place, 'd'),
                    morvel_bank_answer(r.texts[7], 1, place),
                    morvel_bank_picture(r.blobs[1], place, 'pic'));
    end loop;

    -- True/false and fill-in questions share their layout.
    foreach entry slice 1 in array array[['判断题', '2'], ['填空题', '3']] loop
        for r in select * from morvel_sqlite_read(filename, entry[1],
                     array['ID', 'subject', 'answer'], array['pic'])
                 order by row_no loop
            place := morvel_bank_place(filename, entry[1], r.row_no);
            execute format('insert into %I (id, subject, answer, pic) values ($1, $2, $3, $4)',
                           entry[1])
                using morvel_bank_unique(entry[1], morvel_bank_id(r.texts[1], place), place),
                      morvel_bank_text(r.texts[2], 200, place, 'subject'),
                      morvel_bank_answer(r.texts[3], entry[2]::integer, place),
                      morvel_bank_picture(r.blobs[1], place, 'pic');
        end loop;
    end loop;

    -- In the order of their IDs, so the first task is the one a client
    -- finds first.
    for r in select * from morvel_sqlite_read(filename, '操作题',
                 array['ID', 'subject1', 'subject2', 'subject3'],
                 array['pic1', 'pic2', 'pic3', 'ExamFolder'])
             order by morvel_bank_id(texts[1], morvel_bank_place(filename, '操作题', row_no)),
                      row_no loop
        place := morvel_bank_place(filename, '操作题', r.row_no);
        insert into 操作题 (id, subject1, subject2, subject3, pic1, pic2, pic3, examfolder)
            values (morvel_bank_unique('操作题', morvel_bank_id(r.texts[1], place), place),
                    r.texts[2], r.texts[3], r.texts[4],
                    morvel_bank_picture(r.blobs[1], place, 'pic1'),
                    morvel_bank_picture(r.blobs[2], place, 'pic2'),
                    morvel_bank_picture(r.blobs[3], place, 'pic3'),
                    r.blobs[4]);
    end loop;
end
$$;
