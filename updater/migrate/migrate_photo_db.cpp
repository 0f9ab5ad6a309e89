// Changes of the photo database's tables between the old firmware and the
// new one.
#include "migrate_steps.h"

namespace updt::migrate {

int updatePhotoDbColumns(const Step &)
{
    pgsqlCommand("su -l admin -c \"/usr/vexa/pgsql/bin/psql photo -c 'ALTER TABLE photo_image ALTER timetaken TYPE "
                 "varchar(64)'\"");
    pgsqlCommand("su -l admin -c \"/usr/vexa/pgsql/bin/psql photo -c 'ALTER TABLE photo_user ADD COLUMN admin bool "
                 "DEFAULT false'\"");
    return 0;
}

int updatePhotoDbVideoTables(const Step &)
{
    syslog(LOG_ERR, "Update photo db to add video tables");
    pgsqlCommand("su -l admin -c \"/usr/vexa/pgsql/bin/psql photo -c 'CREATE TABLE video_comment(id serial NOT "
                 "NULL,path text NOT NULL,name varchar(100),email varchar(128),\"comment\" text,date "
                 "timestamp,updated char(1),CONSTRAINT video_comment_pkey PRIMARY KEY (id)) WITH OIDS;ALTER TABLE "
                 "video_comment OWNER TO admin;'\"");
    pgsqlCommand("su -l admin -c \"/usr/vexa/pgsql/bin/psql photo -c 'CREATE TABLE video_desc(id serial NOT "
                 "NULL,path text NOT NULL, title text, description text,updated char(1),CONSTRAINT video_pkey "
                 "PRIMARY KEY (id),CONSTRAINT video_path_key UNIQUE (path)) WITH OIDS;ALTER TABLE video_desc OWNER "
                 "TO admin;'\"");
    return 0;
}

}  // namespace updt::migrate
