#include "ZqCimomParams.h"

#include "ZqSmisSettings.h"

ZqCimomParams::ZqCimomParams() : TimeoutSecs(ZqSmisSettings::DefaultClientTimeoutSecs()) {}
