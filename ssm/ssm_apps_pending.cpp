// The info viewer and chart apps of the monitor are not built in yet. Their actions refuse to
// start (-5), which keeps their rows stopped.
#include "ssm_app.h"

extern "C" {

#define SSM_PENDING_ACTION(name) \
    int32_t name(uint32_t, const void*) { return -5; }

SSM_PENDING_ACTION(SSM_APP_LOGMInfoAction)
SSM_PENDING_ACTION(SSM_APP_BSPMemMapInfoAction)
SSM_PENDING_ACTION(SSM_APP_HMAFullInfoAction)
SSM_PENDING_ACTION(SSM_APP_HMARealTimeViewAction)
SSM_PENDING_ACTION(SSM_APP_PCRInfoAction)
SSM_PENDING_ACTION(SSM_APP_TEMPInfoAction)
SSM_PENDING_ACTION(SSM_APP_GPIOInfoAction)
SSM_PENDING_ACTION(SSM_APP_CPULOADInfoAction)
SSM_PENDING_ACTION(SSM_APP_TopViewAction)
SSM_PENDING_ACTION(SSM_APP_FileMonitorwAction)
SSM_PENDING_ACTION(SSM_APP_PMTInfoAction)
SSM_PENDING_ACTION(SSM_APP_DNNInfoAction)

}  // extern "C"
