// Placeholder until the lifecycle commands are built: every slot answers 2.
#include "entry/handlers.h"

namespace morvane {

int32_t ColdStart(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t WarmStart(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t EndTev(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t CloseCom(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t ReOpenCom(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t GetTevInfo(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t ChangeTevParams(TevRequest*) {
    return MORVANE_LINE_FAILED;
}

}  // namespace morvane
