-- GenerateQuestionTable(): a fresh paper for every examinee of the classes
-- chosen for the coming exam (是否选择 = 1, 是否已考 = 0): the examinee's
-- earlier paper rows go, and five questions of each kind, drawn at random and
-- for each examinee anew, take their place (all of a kind when the bank has
-- fewer), unanswered. Papers of other classes stay.
create procedure generatequestiontable()
language plpgsql
as $$
begin
    with sitting as (
        select e.准考证号
            from 考生信息 e
            join 考试情况 c on c.班级 = e.班级
            where c.是否选择 = 1 and c.是否已考 = 0
    ),
    earlier as (
        delete from 试卷表 p using sitting s where p.准考证号 = s.准考证号
    )
    insert into 试卷表 (准考证号, 题号, 试题类别, 答题结果)
        select drawn.准考证号, drawn.id, drawn.kind, ''
            from (select s.准考证号, q.id, q.kind,
                         row_number() over (partition by s.准考证号, q.kind
                                            order by random()) as nth
                      from sitting s
                      cross join (select id, 1 as kind from 选择题
                                  union all
                                  select id, 2 from 判断题
                                  union all
                                  select id, 3 from 填空题) q) drawn
            where drawn.nth <= 5
            order by drawn.准考证号, drawn.kind, drawn.nth;
end
$$;

-- GrantPermissions(): the client's login Morvel may do exactly what the
-- client does: connect; read 考生信息, 考试情况, 试卷表 and 操作题; read the
-- questions of 选择题, 判断题 and 填空题 but not their answers; change 答题结果
-- in 试卷表; read, add and change rows of 操作题答卷. Whatever else it was
-- given goes. Safe to call again and again.
create procedure grantpermissions()
language plpgsql
as $$
begin
    if not exists (select 1 from pg_roles where rolname = 'Morvel') then
        raise exception '授权失败：数据库中没有登录名 Morvel' using errcode = 'undefined_object';
    end if;

    revoke all on all tables in schema public from "Morvel";
    revoke all on all sequences in schema public from "Morvel";
    revoke all on all functions in schema public from "Morvel";
    revoke all on all procedures in schema public from "Morvel";

    execute format('grant connect on database %I to "Morvel"', current_database());
    grant usage on schema public to "Morvel";
    grant select on 考生信息, 考试情况, 试卷表, 操作题 to "Morvel";
    grant select (id, subject, a, b, c, d, pic) on 选择题 to "Morvel";
    grant select (id, subject, pic) on 判断题, 填空题 to "Morvel";
    grant update (答题结果) on 试卷表 to "Morvel";
    grant select, insert, update on 操作题答卷 to "Morvel";
end
$$;
