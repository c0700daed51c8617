#pragma once
// RecordLineFilter: the seam through which the download session passes every
// record line, prepared for the wire, before it goes out. A filter may change
// the line's characters in place but never its length, so the lines sent and
// counted stay the file's. The session knows nothing of what a filter does.

#include <cstddef>

class RecordLineFilter {
  public:
    virtual ~RecordLineFilter() = default;
    // line holds length characters (CR LF included when it has them).
    virtual void Filter(char* line, size_t length) = 0;
};
