#include "protocol/Downloader.h"
