// A stand-in effect library that refuses global setup and asks the host to
// show its message, as a plug-in does when it cannot run.
#include <cstring>

#include "host/HostConstants.h"
#include "host/HostTypes.h"

extern "C" __attribute__((visibility("default"))) PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData*,
                                                                        PF_OutData* out_data,
                                                                        PF_ParamDef*[],
                                                                        PF_LayerDef*, void*) {
    if (cmd != PF_Cmd_GLOBAL_SETUP || !out_data) return PF_Err_NONE;
    // "测试失败" (test failure) in GBK.
    std::strcpy(out_data->return_msg, "\xB2\xE2\xCA\xD4\xCA\xA7\xB0\xDC");
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
}
