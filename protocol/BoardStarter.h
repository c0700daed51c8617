#pragma once
// BoardStarter: what brings the board to its boot loader when a person does
// not (a fixture switching its power or pulling its reset). A download
// session with one (ProtocolOptions::boardStarter) calls Start once, where it
// would show the power-cycle prompt: the line is set up for polling, and "?"
// polling follows as soon as Start returns. What Start raises ends the
// session as a port error or an interrupt would.

class COMPort;

class BoardStarter {
  public:
    virtual ~BoardStarter() = default;
    virtual void Start(COMPort& port) = 0;
};
