-- The position of a column in a worksheet's header row, refused when the
-- header lacks it or names it twice.
create function morvel_header_column(header text[], title text, place text, header_row integer)
    returns integer
    language plpgsql immutable
as $$
declare
    found_at integer;
begin
    for i in coalesce(array_lower(header, 1), 1) .. coalesce(array_upper(header, 1), 0) loop
        if morvel_trim(header[i]) = title then
            if found_at is not null then
                raise exception '%第%行（标题行）：列“%”出现了两次', place, header_row, title
                    using errcode = 'duplicate_column';
            end if;
            found_at := i;
        end if;
    end loop;
    if found_at is null then
        raise exception '%第%行（标题行）：缺少列“%”', place, header_row, title
            using errcode = 'undefined_column';
    end if;
    return found_at;
end
$$;

-- ImportExamineeInfo(filename): the examinee list from the first worksheet of
-- an Excel workbook (.xls). The first non-blank row is the header; it names
-- the columns 准考证号, 姓名 and 班级 in any order (other columns are ignored).
-- Every further row is one examinee; rows blank in all three columns are
-- skipped. The whole workbook is checked before anything is written, and the
-- call runs in one transaction: a refused workbook changes nothing.
create procedure importexamineeinfo(filename text)
language plpgsql
as $$
declare
    sheet_name text;
    header_row integer;
    header text[];
    pos_number integer;
    pos_name integer;
    pos_class integer;
    place text;
    row_nos integer[] := '{}';
    numbers text[] := '{}';
    names text[] := '{}';
    classes text[] := '{}';
    exam_number text;
    examinee_name text;
    class_name text;
    fits boolean;
    duplicate record;
    r record;
begin
    perform morvel_require_path(filename, '导入考生名单：没有给出文件名');

    for r in select * from morvel_xls_sheet(filename) order by row_no loop
        sheet_name := r.sheet;
        if header_row is null then
            if coalesce(morvel_trim(array_to_string(r.cells, '')), '') = '' then
                continue;
            end if;
            header_row := r.row_no;
            header := r.cells;
            place := format('考生名单“%s”工作表“%s”', filename, sheet_name);
            pos_number := morvel_header_column(header, '准考证号', place, header_row);
            pos_name := morvel_header_column(header, '姓名', place, header_row);
            pos_class := morvel_header_column(header, '班级', place, header_row);
            continue;
        end if;

        exam_number := nullif(morvel_trim(r.cells[pos_number]), '');
        examinee_name := nullif(morvel_trim(r.cells[pos_name]), '');
        class_name := nullif(morvel_trim(r.cells[pos_class]), '');
        if exam_number is null and examinee_name is null and class_name is null then
            continue;
        end if;
        if exam_number is null then
            raise exception '%第%行：准考证号为空', place, r.row_no
                using errcode = 'null_value_not_allowed';
        end if;
        if char_length(exam_number) > 8 then
            raise exception '%第%行：准考证号“%”超过8个字符', place, r.row_no, exam_number
                using errcode = 'string_data_right_truncation';
        end if;
        -- The status messages carry 8 bytes of the number in code page 936.
        begin
            fits := morvel_gbk_fits(exam_number, 8);
        exception
            when untranslatable_character then
                raise exception '%第%行：准考证号“%”含有 GBK 编码以外的字符', place, r.row_no,
                    exam_number using errcode = 'untranslatable_character';
        end;
        if not fits then
            raise exception '%第%行：准考证号“%”超过8个字节（汉字占2个字节）', place, r.row_no,
                exam_number using errcode = 'string_data_right_truncation';
        end if;
        if class_name is null then
            raise exception '%第%行：班级为空', place, r.row_no
                using errcode = 'null_value_not_allowed';
        end if;
        if char_length(class_name) > 255 then
            raise exception '%第%行：班级超过255个字符', place, r.row_no
                using errcode = 'string_data_right_truncation';
        end if;
        if char_length(examinee_name) > 255 then
            raise exception '%第%行：姓名超过255个字符', place, r.row_no
                using errcode = 'string_data_right_truncation';
        end if;
        row_nos := row_nos || r.row_no;
        numbers := numbers || exam_number;
        names := names || coalesce(examinee_name, '');
        classes := classes || class_name;
    end loop;

    if header_row is null then
        raise exception '考生名单“%”：第一个工作表是空的，没有标题行', filename
            using errcode = 'undefined_column';
    end if;

    -- Exam numbers compare without regard to case, as they do at login.
    select min(n.row_no) as first_row, max(n.row_no) as second_row,
           min(n.exam_number) as exam_number
        into duplicate
        from (select u.exam_number collate morvel_ci as exam_number, u.row_no,
                     count(*) over (partition by u.exam_number collate morvel_ci) as times,
                     row_number() over (partition by u.exam_number collate morvel_ci
                                        order by u.row_no) as nth
                  from unnest(numbers, row_nos) as u(exam_number, row_no)) n
        where n.times > 1 and n.nth <= 2
        group by n.exam_number
        order by max(n.row_no)
        limit 1;
    if found then
        raise exception '%第%行：准考证号“%”与第%行重复', place, duplicate.second_row,
            duplicate.exam_number, duplicate.first_row
            using errcode = 'unique_violation';
    end if;

    -- Known examinees take the workbook's name and class; every imported
    -- examinee may log in afresh.
    update 考生信息 e
        set 姓名 = u.examinee_name, 班级 = u.class_name, ip = '', 考试状态 = '', 登录标志 = 0
        from unnest(numbers, names, classes) as u(exam_number, examinee_name, class_name)
        where e.准考证号 = u.exam_number;

    -- New examinees get running numbers after the highest one, in the
    -- workbook's order.
    insert into 考生信息 (考生id, 准考证号, 姓名, 班级, ip, 考试状态, 登录标志)
        select coalesce((select max(考生id) from 考生信息), 0)
                   + row_number() over (order by u.row_no),
               u.exam_number, u.examinee_name, u.class_name, '', '', 0
            from unnest(numbers, names, classes, row_nos)
                     as u(exam_number, examinee_name, class_name, row_no)
            where not exists (select 1 from 考生信息 e where e.准考证号 = u.exam_number)
            order by u.row_no;
    perform setval('考生信息_考生id_seq', greatest(coalesce((select max(考生id) from 考生信息), 0), 1)::bigint);

    -- Every class of the workbook gets its row; a known class keeps its flags,
    -- so an examined class stays examined.
    insert into 考试情况 (班级, 是否选择, 是否已考)
        select u.class_name, 0, 0
            from unnest(classes, row_nos) as u(class_name, row_no)
            order by u.row_no
        on conflict (班级) do nothing;

    -- An examinee's class is spelled as its class row: the console's grid
    -- filter compares the spelling, not the catalog's collation.
    update 考生信息 e
        set 班级 = c.班级
        from 考试情况 c
        where e.班级 = c.班级 and e.班级 collate "C" <> c.班级 collate "C";
end
$$;
