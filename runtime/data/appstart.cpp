#include "runtime/data/appstart.h"

#include "runtime/core/startup.h"
#include "runtime/data/dict.h"
#include "runtime/data/sql.h"
#include "runtime/script/proc.h"

namespace rt {

const std::string_view kBusinessSettingsFiles =
    "%APPPATH_DATA%\\%APNAME%CLCUSR.%DATABASE_HOST%.%DATABASE_DBNAME%.DAT,%APNAME%CLCUSR.DAT,"
    "%APPPATH_DATA%\\%APNAME%PARINI.DAT,%APNAME%CLCFIX.DAT;1,QVCLCUSR.DAT,%APPPATH_DATA%\\QVCLCUSR.DAT";

IER business_startup_phase(int phase) {
    switch (phase & 15) {
    case 1:  // hook slots and functions are registered here, and the command levels
        script_install();
        dict_install();  // after the command levels: it takes level 1
        return 0;
    case 2:
        // The connection comes first: the settings files are named after
        // the database.
        if (sql_startup_configured()) {
            if (IER st = sql_connect_startup(sqlopt::KindUser)) return st;
        }
        return eval_config_list(sr(kBusinessSettingsFiles));
    case 3:
        sql_disconnect_all();
        return 0;
    default:
        return 0;
    }
}

}  // namespace rt
