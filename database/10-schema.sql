-- The exam catalog's tables. Identifiers are unquoted: the programs write
-- them unquoted too, so both reach the same (ASCII-lower-cased) names.
-- Exam numbers and classes compare without regard to case (morvel_ci, made
-- by morvel-db before this file is loaded).

-- Functions and procedures of this catalog are not for everybody: only the
-- rights that GrantPermissions hands out are.
alter default privileges revoke execute on functions from public;
alter default privileges revoke execute on routines from public;

-- True when the text takes at most n bytes in code page 936 (GBK), the
-- measure of the programs' "text n" columns.
create function morvel_gbk_fits(value text, n integer) returns boolean
    language sql immutable
    return value is null or octet_length(convert_to(value, 'GBK')) <= n;
-- The table checks call it for every writer, the client's login among them.
grant execute on function morvel_gbk_fits(text, integer) to public;

-- The text without the blanks at its ends: spaces, tabs, line breaks, the
-- no-break space and the ideographic (full-width) space.
create function morvel_trim(value text) returns text
    language sql immutable
    return btrim(value, E' \t\r\n\u00a0\u3000');

-- Refuses an empty file name given to a procedure, with `message`.
create function morvel_require_path(path text, message text) returns void
    language plpgsql immutable
as $$
begin
    if morvel_trim(path) is null or morvel_trim(path) = '' then
        raise exception '%', message using errcode = 'null_value_not_allowed';
    end if;
end
$$;

-- Examinees: one row per examinee, keyed by the exam number.
create sequence 考生信息_考生id_seq;

create table 考生信息 (
    考生id double precision not null default nextval('考生信息_考生id_seq'),
    准考证号 varchar(255) collate morvel_ci primary key,
    姓名 varchar(255),
    班级 varchar(255) collate morvel_ci,
    ip text check (morvel_gbk_fits(ip, 15)),
    考试状态 text check (morvel_gbk_fits(考试状态, 50)),
    登录标志 integer default 0
);
alter sequence 考生信息_考生id_seq owned by 考生信息.考生id;
create index 考生信息_班级 on 考生信息 (班级);

-- Classes of the exam.
create table 考试情况 (
    班级 text collate morvel_ci primary key,
    是否选择 integer default 0,
    是否已考 integer default 0
);

-- Papers: one row per question of an examinee's paper.
create table 试卷表 (
    questionid integer generated always as identity primary key,
    准考证号 text collate morvel_ci not null check (morvel_gbk_fits(准考证号, 50)),
    题号 integer not null,
    试题类别 integer not null check (试题类别 in (1, 2, 3)),
    答题结果 text check (morvel_gbk_fits(答题结果, 50))
);
create index 试卷表_准考证号 on 试卷表 (准考证号, 试题类别);

-- The question bank, one table per kind. The answer columns are for marking;
-- the client's login may not read them.
create table 选择题 (
    id integer primary key,
    subject varchar(200),
    a varchar(50),
    b varchar(50),
    c varchar(50),
    d varchar(50),
    answer varchar(1) check (answer in ('A', 'B', 'C', 'D')),
    pic bytea
);

create table 判断题 (
    id integer primary key,
    subject varchar(200),
    answer varchar(1) check (answer in ('1', '0')),
    pic bytea
);

create table 填空题 (
    id integer primary key,
    subject varchar(200),
    answer text check (morvel_gbk_fits(answer, 50)),
    pic bytea
);

-- Practical tasks with the template of the work folder (a RAR archive).
create table 操作题 (
    id integer primary key,
    subject1 text,
    subject2 text,
    subject3 text,
    pic1 bytea,
    pic2 bytea,
    pic3 bytea,
    examfolder bytea
);

-- Answer archives: the packed work folder of each examinee who handed in.
create table 操作题答卷 (
    准考证号 text collate morvel_ci primary key check (morvel_gbk_fits(准考证号, 50)),
    操作题答卷 bytea
);

-- Cheating records, one per examinee; the time is the row's insertion.
create table 作弊处理 (
    准考证号 text collate morvel_ci primary key check (morvel_gbk_fits(准考证号, 50)),
    作弊时间 timestamp(0) without time zone not null default localtimestamp(0),
    备注 text
);
