#include "refhost/Faults.h"

namespace refhost {

std::vector<FaultMode> faultModesOf(CallPoint point) {
    switch (point) {
        case CallPoint::AcquireSuite: return {FaultMode::Error, FaultMode::NullResult};
        case CallPoint::HandleNew:
        case CallPoint::HandleLock: return {FaultMode::NullResult};
        case CallPoint::WorldGetPixelFormat: return {FaultMode::Error, FaultMode::BadFormat};
        case CallPoint::CheckoutLayerPixels:
        case CallPoint::CheckoutOutput: return {FaultMode::Error, FaultMode::NullResult};
        case CallPoint::ReleaseSuite:
        case CallPoint::HandleResize:
        case CallPoint::ColorFromColorDef:
        case CallPoint::WorldNew:
        case CallPoint::WorldDispose:
        case CallPoint::Iterate:
        case CallPoint::CheckoutParam:
        case CallPoint::CheckinParam:
        case CallPoint::AddParam:
        case CallPoint::UtilsCopy:
        case CallPoint::CheckoutLayer:
        case CallPoint::GuidMixIn:
        case CallPoint::CheckinLayerPixels: return {FaultMode::Error};
        case CallPoint::HandleUnlock:
        case CallPoint::HandleDispose:
        case CallPoint::HandleGetSize:
        case CallPoint::AnsiSprintf:
        case CallPoint::AnsiStrcpy: return {};
    }
    return {};
}

const char* toString(CallPoint point) {
    switch (point) {
        case CallPoint::AcquireSuite: return "AcquireSuite";
        case CallPoint::ReleaseSuite: return "ReleaseSuite";
        case CallPoint::HandleNew: return "host_new_handle";
        case CallPoint::HandleLock: return "host_lock_handle";
        case CallPoint::HandleUnlock: return "host_unlock_handle";
        case CallPoint::HandleDispose: return "host_dispose_handle";
        case CallPoint::HandleGetSize: return "host_get_handle_size";
        case CallPoint::HandleResize: return "host_resize_handle";
        case CallPoint::ColorFromColorDef: return "PF_GetFloatingPointColorFromColorDef";
        case CallPoint::WorldNew: return "PF_NewWorld";
        case CallPoint::WorldDispose: return "PF_DisposeWorld";
        case CallPoint::WorldGetPixelFormat: return "PF_GetPixelFormat";
        case CallPoint::Iterate: return "iterate";
        case CallPoint::CheckoutParam: return "checkout_param";
        case CallPoint::CheckinParam: return "checkin_param";
        case CallPoint::AddParam: return "add_param";
        case CallPoint::AnsiSprintf: return "ansi.sprintf";
        case CallPoint::AnsiStrcpy: return "ansi.strcpy";
        case CallPoint::UtilsCopy: return "copy";
        case CallPoint::CheckoutLayer: return "checkout_layer";
        case CallPoint::GuidMixIn: return "GuidMixInPtr";
        case CallPoint::CheckoutLayerPixels: return "checkout_layer_pixels";
        case CallPoint::CheckinLayerPixels: return "checkin_layer_pixels";
        case CallPoint::CheckoutOutput: return "checkout_output";
    }
    return "?";
}

const char* toString(FaultMode mode) {
    switch (mode) {
        case FaultMode::Error: return "Error";
        case FaultMode::NullResult: return "NullResult";
        case FaultMode::BadFormat: return "BadFormat";
    }
    return "?";
}

std::string describe(const HostCall& call) {
    return std::string(toString(call.point)) + "(" + call.detail + ")";
}

}  // namespace refhost
