// The settings store.
#pragma once
