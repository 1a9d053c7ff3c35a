// Jobs that survive the host: placeholder, filled below.
#include "CliFixture.h"
