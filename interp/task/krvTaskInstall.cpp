// Installs the task and synchronisation built-ins and makes the task table.
#include "builtin/krvBuiltinTable.h"
#include "model/krvDiag.h"
#include "task/krvTask.h"
#include "task/krvTaskBuiltins.h"
#include "task/krvTaskInt.h"

void krvTaskInstall(void)
{
    if (krvTaskTableInit() != 0) {
        krvError("out of memory for the task table\n");
        return;
    }
    krvBuiSetHandler(KRV_BUI_TASK_CREATE, krvBuiFunc_task_create);
    krvBuiSetHandler(KRV_BUI_TASK_JOIN, krvBuiFunc_task_join);
    krvBuiSetHandler(KRV_BUI_MUTEX_CREATE, krvBuiFunc_mutex_create);
    krvBuiSetHandler(KRV_BUI_MUTEX_DELETE, krvBuiFunc_mutex_delete);
    krvBuiSetHandler(KRV_BUI_MUTEX_LOCK, krvBuiFunc_mutex_lock);
    krvBuiSetHandler(KRV_BUI_MUTEX_UNLOCK, krvBuiFunc_mutex_unlock);
    krvBuiSetHandler(KRV_BUI_COND_CREATE, krvBuiFunc_cond_create);
    krvBuiSetHandler(KRV_BUI_COND_WAIT, krvBuiFunc_cond_wait);
    krvBuiSetHandler(KRV_BUI_COND_BROADCAST, krvBuiFunc_cond_broadcast);
}
