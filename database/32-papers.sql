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

-- The address of the client's connection as the console records it at a
-- login: dotted IPv4 (an IPv4-mapped IPv6 address unwrapped); null on the
-- local socket.
create function morvel_client_address() returns text
    language sql stable
    return regexp_replace(host(inet_client_addr()), '^::ffff:', '');

-- GrantPermissions(): the client's login Morvel may do exactly what the
-- client does, on the rows of its own examinee, and nothing else:
-- - connect to this catalog (not to postgres or template1); read 考生信息,
--   考试情况 and 操作题; read the questions of 选择题, 判断题 and 填空题 but not
--   their answers;
-- - read the paper rows (试卷表) and change their 答题结果, read, add and
--   change the archive row (操作题答卷), each only for the examinee whom the
--   console admitted from the connection's address (考生信息.ip) and whose
--   class sits the exam now; rights on columns, not tables, so that no
--   client can lock a table beyond what a row write takes;
-- - no temporary tables, no large objects, no signals to other sessions,
--   no view of other sessions' statements;
-- - the login itself: its password, no settings of its own, no other role
--   to switch to, as many connections as the room has PCs (the setting
--   morvel.max_clients that morvel-db writes).
-- Whatever else it was given, or changed of itself, goes. Safe to call again
-- and again: nothing here takes a lock that a working client holds.
create procedure grantpermissions()
language plpgsql
as $$
declare
    own constant text := '准考证号 in (select e.准考证号 from 考生信息 e join 考试情况 c '
        'on c.班级 = e.班级 where e.ip = morvel_client_address() and c.是否选择 = 1 '
        'and c.是否已考 = 0)';
    clients integer := coalesce(nullif(current_setting('morvel.max_clients', true), '')::integer,
                                current_setting('max_connections')::integer - 20);
    tbl text;
    other record;
begin
    if not exists (select 1 from pg_roles where rolname = 'Morvel') then
        raise exception '授权失败：数据库中没有登录名 Morvel' using errcode = 'undefined_object';
    end if;

    -- The login as morvel-db made it.
    execute format('alter role "Morvel" with login nosuperuser nocreatedb nocreaterole '
                   'noreplication nobypassrls password %L valid until %L connection limit %s',
                   '5093718', 'infinity', greatest(clients, 1));
    alter role "Morvel" reset all;
    for other in select d.datname from pg_db_role_setting s join pg_database d on d.oid = s.setdatabase
                     where s.setrole = (select oid from pg_roles where rolname = 'Morvel') loop
        execute format('alter role "Morvel" in database %I reset all', other.datname);
    end loop;
    for other in select r.rolname from pg_auth_members m join pg_roles r on r.oid = m.roleid
                     where m.member = (select oid from pg_roles where rolname = 'Morvel') loop
        execute format('revoke %I from "Morvel"', other.rolname);
    end loop;

    -- Only this catalog, without temporary tables: the databases that every
    -- cluster has let nobody in but the owner either.
    revoke all on database postgres, template1 from public, "Morvel";
    execute format('revoke all on database %I from public, "Morvel"', current_database());
    execute format('grant connect on database %I to "Morvel"', current_database());

    -- Other sessions and large objects are no client's business.
    revoke execute on function pg_terminate_backend(integer, bigint), pg_cancel_backend(integer),
        lo_creat(integer), lo_create(oid), lo_from_bytea(oid, bytea), lo_import(text),
        lo_import(text, oid), pg_stat_get_activity(integer) from public;
    revoke select on pg_stat_activity from public;

    revoke all on all tables in schema public from "Morvel";
    revoke all on all sequences in schema public from "Morvel";
    revoke all on all functions in schema public from "Morvel";
    revoke all on all procedures in schema public from "Morvel";

    grant usage on schema public to "Morvel";
    grant select on 考生信息, 考试情况, 试卷表, 操作题, 操作题答卷 to "Morvel";
    grant select (id, subject, a, b, c, d, pic) on 选择题 to "Morvel";
    grant select (id, subject, pic) on 判断题, 填空题 to "Morvel";
    grant update (答题结果) on 试卷表 to "Morvel";
    grant insert (准考证号, 操作题答卷), update (准考证号, 操作题答卷) on 操作题答卷 to "Morvel";
    grant execute on function morvel_client_address() to "Morvel";

    -- The rows of the client's own examinee. Made once: a policy made anew
    -- would wait for every client that reads the table.
    foreach tbl in array array['试卷表', '操作题答卷'] loop
        if not exists (select 1 from pg_policy
                           where polrelid = tbl::regclass and polname = 'morvel_client') then
            execute format('create policy morvel_client on %I to "Morvel" using (%s) '
                           'with check (%s)', tbl, own, own);
        end if;
        if not (select relrowsecurity from pg_class where oid = tbl::regclass) then
            execute format('alter table %I enable row level security', tbl);
        end if;
    end loop;
end
$$;
