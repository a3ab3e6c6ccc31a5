// Helpers shared by the MIDI units.
#pragma once
