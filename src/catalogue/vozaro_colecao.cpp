#include "catalogue/vozaro_colecao.h"
