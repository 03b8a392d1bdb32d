// Hooks the extension calls and the script callbacks into the evaluator and
// the host service table.
#include "exthost/krvExtCall.h"
#include "exthost/krvHostTable.h"

void krvExtCallInstall(void)
{
    krvEvalSetExtCaller(krvEvalCallExtFunc);
    static const krvCallbackOps_t ops = {krvCallbackNew, krvCallbackRun, krvCallbackFree};
    krvSetCallbackOps(&ops);
}
