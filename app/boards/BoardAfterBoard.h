#pragma once
// --repeat and --boards N: download sessions board after board on one port.
//
// After each session, whatever its outcome, one line gives the board's
// number, its outcome and the tally so far ("Board 3: complete. Boards so
// far: 3 complete, 0 failed."); the next board is then awaited: first until
// the line has been quiet for a second while it is polled (the board just
// programmed has been switched off or taken out, so a board that still
// answers is never programmed twice), then with the power-cycle prompt and
// the usual polling. While the line is awaited quiet, one line asks for the
// board to be taken away ("Take board 3 away (or switch it off); the next
// board is awaited once the line is quiet."). The run ends after N boards
// (--boards), or when the
// operator asks (Ctrl-C, SIGTERM, SIGHUP): a board whose session it cuts
// short counts as interrupted, one that had not answered yet is no board. The
// final tally follows ("Boards in all: 3 complete, 0 failed."); a request
// that cut a board's session short then ends the run as the request would
// (InterruptedError), one that came between boards with the tally's status. A port error
// or a data file that cannot be read ends the run as in a single download.
//
// Every board gets its own record, with its number and its own exit status
// (0 complete, 1 otherwise). Every board's data file is
// opened anew through image (app/boards/BoardImage.h), so a file changed
// since its check ends the run before that board gets anything.
//
// With a fixture (app/fixture/Fixture.h): each board is started by it in place of
// the prompt, and its --reset-end runs after each board's session. With
// --start-when, the run waits for the start signal before each board, and
// after each board for the signal to end, in place of the quiet line.
//
// Each board begins and ends through the run's story (app/RunStory.h),
// which decides its outcome and tells whoever listens (its record, the
// events, a gang).
//
// With --stamp, every board reserves its own number, which its tally line
// shows ("Board 3 (stamp 17): complete. ...") and which is closed as the
// board ends.
//
// With labels (--ask-label, --label-from: app/operator/BoardLabels.h) each
// board's label is asked for before the board is awaited (the first one's
// before the port was opened), and its tally line shows it ("Board 3 (label
// SN0003): complete. ...", "Board 3 (stamp 17, label SN0003): ..."). The
// end of the labels' input ends the run before its next board, in order, as
// the operator's request between boards does. After the tally the
// operator's screen (--operator-screen) shows the board's result; what is
// said between boards (the line to take the board away, the start signal's
// waits) goes on its last line while it shows.

#include "app/RunStory.h"
#include "app/Settings.h"
#include "app/boards/BoardImage.h"
#include "app/fixture/Fixture.h"
#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"
#include "text/UploadFile.h"

// file is open for the first board; it is opened again for every further
// one. Returns 0 when every board was complete, else 1.
int RunBoardAfterBoard(COMPort& port, const Settings& settings, const ProtocolOptions& options,
                       UploadFile& file, const BoardImage& image, RunStory& story,
                       Fixture& fixture);
