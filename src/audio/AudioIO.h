// Wave input capture.
#pragma once
