// The monitor's launcher (quick menu), settings menu and media player are not built in yet.
// Their actions refuse to start (-5), which keeps their rows stopped.
#include "ssm_app.h"

extern "C" {

int32_t SSM_APP_QuickMenu(uint32_t, const void*) { return -5; }
int32_t SSM_APP_TVSettingsAction(uint32_t, const void*) { return -5; }
int32_t SSM_APP_TVMPlayerAction(uint32_t, const void*) { return -5; }

}  // extern "C"
