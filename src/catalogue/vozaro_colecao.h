// The song catalogue: album file, index, numbering and song files.
#pragma once
