-- mark(scoredb, classname): the scores of a class into the table 成绩表 of
-- the SQLite file scoredb (the class's score.mdb, made by the console with
-- the table still empty). One row per examinee of the class, in the order of
-- 考生ID:
--   准考证号, 姓名, 班级  the examinee's, cut to 8, 8 and 20 characters
--   选择, 判断, 填空      one point for each question of that kind on the
--                         examinee's paper answered correctly
--   备注                  the remark of the examinee's cheating record, cut
--                         to 255 characters; empty without a record
-- A multiple-choice answer is right when, without blanks at its ends and in
-- capitals, it is the question's letter; a true/false answer when, without
-- blanks at its ends, it is the question's "1" or "0"; a fill-in answer when,
-- without blanks at its ends, it equals the question's answer without regard
-- to case (or to full- and half-width forms), as the catalog compares. Any
-- rows already in 成绩表 are replaced. Nothing in the catalog changes.
create procedure mark(scoredb text, classname text)
language plpgsql
as $$
declare
    cells text[];
begin
    perform morvel_require_path(scoredb, '评分：没有给出成绩库文件名');
    if classname is null then
        raise exception '评分：没有给出班级' using errcode = 'null_value_not_allowed';
    end if;

    select coalesce(array_agg(array[left(e.准考证号, 8), left(e.姓名, 8), left(e.班级, 20),
                                    scores.choice::text, scores.truefalse::text,
                                    scores.fillin::text, coalesce(left(w.备注, 255), '')]
                              order by e.考生id, e.准考证号),
                    '{}')
        into cells
        from 考生信息 e
        cross join lateral (
            select count(*) filter (where p.试题类别 = 1 and upper(morvel_trim(p.答题结果)) = q1.answer) as choice,
                   count(*) filter (where p.试题类别 = 2 and morvel_trim(p.答题结果) = q2.answer) as truefalse,
                   count(*) filter (where p.试题类别 = 3 and morvel_trim(p.答题结果) = morvel_trim(q3.answer) collate morvel_ci) as fillin
                from 试卷表 p
                left join 选择题 q1 on p.试题类别 = 1 and q1.id = p.题号
                left join 判断题 q2 on p.试题类别 = 2 and q2.id = p.题号
                left join 填空题 q3 on p.试题类别 = 3 and q3.id = p.题号
                where p.准考证号 = e.准考证号
        ) scores
        left join 作弊处理 w on w.准考证号 = e.准考证号
        where e.班级 = classname;

    perform morvel_sqlite_replace(scoredb, '成绩表',
                                  array['准考证号', '姓名', '班级', '选择', '判断', '填空', '备注'],
                                  cells);
end
$$;
