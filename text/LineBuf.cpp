#include "text/LineBuf.h"
