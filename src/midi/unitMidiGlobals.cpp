#include "midi/unitMidiGlobals.h"
