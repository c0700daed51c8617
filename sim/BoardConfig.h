#pragma once
// BoardConfig: how the simulated boot loader behaves, and which faults it
// plays. The defaults give a well-behaved board: it answers every command at
// once, checks every record and paces nothing. Every fault is off by default
// and the faults combine freely.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct BoardConfig {
    // --- A well-behaved board ----------------------------------------------
    // Sent after "+" in answer to "?".
    std::string identity = "KELVOR DSP boot loader 2.4";
    // Lines sent right after the identity line (each gets CR LF), e.g. "-Ready".
    std::vector<std::string> greeting;
    // Progress lines sent in answer to "W" before its "+", one every
    // flashIntervalMs; the first one flashIntervalMs after "W" arrived.
    int flashProgressLines = 3;
    int flashIntervalMs = 100;
    // Text of a progress line; "%d" is replaced by the percentage done.
    std::string flashProgressText = "-Programming flash: %d%%";
    // When false the board never sends an answer on its own: it only
    // records what it receives, and sends what Board::Send gives it.
    bool loaderProtocol = true;
    // Treat a record line that fails only because a command letter directly
    // follows it (":...C" from a last record without line end, followed by
    // "C\r\n") as that record plus the command. Off: the whole line is one
    // bad record and the command is lost, as on a real board.
    bool recoverTrailingCommand = false;
    // For the exit status: whether a complete download must also have had its
    // flash written ("W" acknowledged) and its program started ("S").
    bool expectFlash = false;
    bool expectStart = true;

    // --- Faults: silence and extra lines -------------------------------------
    // The first silentPolls "?" get no answer (the board is switched off).
    int silentPolls = 0;
    // Lines sent in answer to each "?" that is not acknowledged (with
    // silentPolls) and before the identity line of the one that is.
    std::vector<std::string> pollMessages;
    // Lines sent after "R" arrived, before its "+".
    std::vector<std::string> requestMessages;
    // Lines sent when "S" arrives (the started program talking).
    std::vector<std::string> startMessages;
    // The first ignoreRequests "R" get no answer at all.
    int ignoreRequests = 0;
    // The first ignoreCounts "C" get no answer at all.
    int ignoreCounts = 0;
    // The answer to the first "R" / "C" that is answered goes out this many
    // ms late (a board busy with its records); what the board sends after it
    // waits behind it.
    int lateRequestMs = 0;
    int lateCountMs = 0;

    // --- Faults: wrong answers -----------------------------------------------
    // Added to the true count in the answer to "C" (a wrong count).
    int countOffset = 0;
    // When set, the whole answer line to "C" (without line end), e.g. "+ 250",
    // "+250 lines" or "+"; countOffset is then not used.
    std::optional<std::string> countReply;
    // Never acknowledge "W" (progress lines are still sent).
    bool flashNeverAck = false;

    // --- Faults: late, repeated and extra answers -----------------------------
    // Extra wait before the "+" that answers "W", after its progress lines
    // and its own interval (see also lateRequestMs, lateCountMs).
    int flashAckDelayMs = 0;
    // Every "+" line that answers "?", "R", "C" or "W" is sent this many
    // times more, right after the first.
    int repeatAcks = 0;
    // Lines sent after "C" arrived, before the answer (after the notes on bad
    // records).
    std::vector<std::string> countMessages;
    // Every recordMessageInterval record lines, "-Received N records" is sent
    // at once, while the upload goes on; 0 = never.
    int recordMessageInterval = 0;

    // --- Faults: the shape of what is sent -----------------------------------
    // When > 0 every line the board sends goes out in three writes with
    // pauses of this many ms: the first half of the text; the rest and CR;
    // LF.
    int splitPauseMs = 0;
    // Bytes sent, unchanged and without line end, before every line.
    std::string noiseBeforeLines;
    // Bytes sent, unchanged and without line end, once, when the first byte
    // arrives from the host (before any answer).
    std::string noiseOnConnect;
    // Raw copy: send back every byte received; and/or send answerOnReceive
    // after each chunk received.
    bool echo = false;
    std::string answerOnReceive;

    // --- Faults: the line breaks down ----------------------------------------
    // Close the line (hang up) once this many bytes / record lines have been
    // received; 0 = never. The bytes of the chunk that passes the limit
    // beyond it are not taken.
    int64_t hangUpAfterBytes = 0;
    int hangUpAfterRecords = 0;
    // Stop answering anything once this many record lines have been received
    // (bytes are still received and recorded); 0 = never.
    int silentAfterRecords = 0;

    // --- The started program -------------------------------------------------
    // Lines "program line N" (N from 1) that the program prints once "S" has
    // arrived: the first at that instant, after the startMessages, then one
    // every programIntervalMs.
    int programLines = 0;
    int programIntervalMs = 100;

    // --- The port goes away and comes back ---------------------------------
    // vanishAfterMs after the board began to run, its port goes away (as an
    // adapter pulled out; see Board::Vanish) and comes back vanishForMs later
    // (Board::Reappear), the started program going on where it was; 0 =
    // never.
    int vanishAfterMs = 0;
    int vanishForMs = 1000;

    // --- Pacing ----------------------------------------------------------------
    // Bits per second of the simulated line: each byte takes 10 bit times in
    // both directions. 0 = as fast as the pseudo-terminal goes.
    uint32_t baudRate = 0;

    // --- Recording ---------------------------------------------------------
    // When not empty, every byte received is written to this file (created
    // or emptied when the board is made).
    std::string logPath;

    // --- Ending the run ------------------------------------------------------
    // The board's loop ends once an "S" has arrived and what it sends in
    // answer is out.
    bool exitAfterStart = false;
    // The board's loop ends this many ms after it began; 0 = never.
    int runTimeoutMs = 0;
};

}  // namespace sim
