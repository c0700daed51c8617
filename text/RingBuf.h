#pragma once
// RingBuf: circular byte buffer; see text/LineBuf.h. Implementation to come.
