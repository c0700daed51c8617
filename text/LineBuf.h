#pragma once
// LineBuf: assembles reply lines from single received bytes.
//
// Interface (to be documented fully with the implementation):
//   explicit LineBuf(int32_t size = 0);   // 0: growable ring
//   int32_t PutChar(char c);              // 1 while a completed line waits
//   int32_t PutString(const char* s);
//   char* GetLine();                      // line without its CR/LF end
//   char* LastLine();                     // line as it stands, flag cleared
//   void Reset();
#include <cstdint>
