#include "audio/AudioIO.h"
