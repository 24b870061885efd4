-- The client's login "Morvel". Roles belong to the whole cluster, so one may
-- be left from an earlier catalog: it is then brought back to a plain login
-- with the client's password. Its rights in this catalog come from
-- GrantPermissions alone; until then it may not even connect.
do $$
begin
    if exists (select 1 from pg_roles where rolname = 'Morvel') then
        alter role "Morvel" login password '5093718';
    else
        create role "Morvel" login password '5093718';
    end if;
    alter role "Morvel" nosuperuser nocreatedb nocreaterole noreplication nobypassrls;
    execute format('revoke all on database %I from public', current_database());
end
$$;

revoke all on all functions in schema public from public;
revoke all on all procedures in schema public from public;
grant execute on function morvel_gbk_fits(text, integer) to public;
