#include "serial/COMPort.h"
