#include "boardsimprocess.h"
