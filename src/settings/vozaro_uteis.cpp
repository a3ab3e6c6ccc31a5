#include "settings/vozaro_uteis.h"
