// TKORPelmora: the receive loop. Frames from the sending equipment become
// OnMsgReceived events and are answered as the encoder answers them.
#include <exception>

#include "foundation/TextUtil.h"
#include "platform/SerialPort.h"
#include "protocols/EncoderFrame.h"
#include "protocols/KORPelmora.h"

namespace nv {

namespace {

constexpr const char* kDirectAccessPort = "Direct Access Port ";
constexpr const char* kOpen = " Open!";
constexpr const char* kInvalidType = "Envalid Message Type - ";
constexpr const char* kVerifying = "Verifing Account";
constexpr const char* kInvalidPin = "Envalid Pin Entered - ";
constexpr const char* kBlockReceived = "Block Received";
constexpr const char* kTooLong = "Msg. Message Rejected (To Long) - ";
constexpr const char* kSubmitted = "Msg. Submitted For Processing - ";
constexpr const char* kProcessingError = "Msg. Processing Error - ";
constexpr const char* kTooManyErrors = "Disconnected - To Many Errors";
// The text of the error code "04", as the operator's line for a block past the cap.
constexpr const char* kOverflow = "Input Buffer Overflow";

constexpr int kBlockSilenceSeconds = 10;
constexpr int kReplyPauseMs = 500;
constexpr int kMaxBadBlocks = 3;
constexpr std::size_t kPinShownInProgress = 20;

using encoder::Frame;

}  // namespace

void TKORPelmora::ServeLink() {
    // Discard what waited before the connection, then tell the operator the
    // port is ready, so nothing a peer sends after the line is thrown away.
    if (!m_armed.load()) return;
    FlushRXBuf();
    if (DeviceDirectAccess) progress(kDirectAccessPort + comPortName(static_cast<int>(ComPort())) + kOpen);
    m_errorCount = 0;
    m_afterFrame = false;
    m_resync = false;
    for (;;) {
        if (!m_armed.load()) return;
        if (!m_connected.load() || bDropped.load()) {
            Drop();
            return;
        }
        m_clock.sleepFor(std::chrono::milliseconds(5));
        std::string block;
        const BlockRead got = ReadBlock(block, kBlockSilenceSeconds, blockCap());
        if (got == BlockRead::Overflow) {
            answerOverflow();
            continue;
        }
        if (got == BlockRead::None) {
            if (!m_armed.load()) return;
            // The far end went: the loop's head drops the connection.
            if (!m_connected.load()) continue;
            // Silence: a direct port waits for the next block; a call is
            // given up.
            m_clock.sleepFor(std::chrono::milliseconds(5));
            if (DeviceDirectAccess) continue;
            return;
        }
        bool goOn = true;
        try {
            goOn = answerBlock(block);
        } catch (...) {
            // Whatever else went wrong with this block: refuse it and go on.
            try {
                reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
            } catch (...) {
            }
        }
        if (!goOn) return;
    }
}

// A block past the cap: "04" without an echo (the bytes are not kept), and the
// rest up to the next SOH is skipped.
void TKORPelmora::answerOverflow() {
    m_afterFrame = false;
    progress(kOverflow);
    if (!pause(kReplyPauseMs)) return;
    reply(encoder::errorReply(encoder::kCodeInputBufferOverflow));
}

// Handles one block; false when the connection is to end.
bool TKORPelmora::answerBlock(const std::string& block) {
    // The optional line end of a frame already answered is not a block.
    if (m_afterFrame && encoder::isLineEndOnly(block)) {
        m_afterFrame = false;
        return true;
    }
    FRawQJData = block;
    m_clock.sleepFor(std::chrono::milliseconds(2));
    if (!m_connected.load()) {
        Drop();
        return false;
    }
    if (!pause(kReplyPauseMs)) return false;
    m_clock.sleepFor(std::chrono::milliseconds(2));

    Frame frame;
    try {
        frame = encoder::parseFrame(block);
    } catch (const std::exception&) {
        frame.verdict = Frame::Verdict::Malformed;
    }
    m_afterFrame = frame.verdict != Frame::Verdict::NotSoh;
    if (frame.verdict == Frame::Verdict::NotSoh) {
        if (++m_errorCount >= kMaxBadBlocks) {
            progress(kTooManyErrors);
            reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
            pause(kReplyPauseMs);
            FlushRXBuf();
            m_errorCount = 0;
            return true;
        }
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
        return true;
    }
    m_errorCount = 0;
    if (!m_connected.load()) {
        Drop();
        return false;
    }
    return answerFrame(block, frame);
}

// A block begun by SOH: checks in order, the page event, the reply.
bool TKORPelmora::answerFrame(const std::string& block, const encoder::Frame& frame) {
    if (frame.verdict == Frame::Verdict::Malformed) {
        // No STX or no recipient: nothing to deliver, but the link goes on.
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
        return true;
    }
    if (frame.verdict == Frame::Verdict::InvalidType) {
        progress(kInvalidType + std::string(1, frame.type));
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidMessageType));
        return true;
    }

    progress(kVerifying);
    bool accept = true;
    if (OnAccountVerify) OnAccountVerify(*this, frame.pin, accept);
    if (!accept) {
        // The refused PIN may be long or hold line breaks: shown short, one line.
        progress(kInvalidPin + shortenedForLog(frame.pin, kPinShownInProgress));
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCapcode));
        return true;
    }
    if (!m_connected.load()) {
        Drop();
        return false;
    }
    if (!frame.hasEtx) {
        // Without ETX the text is lost: refuse rather than acknowledge an
        // empty page.
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
        return true;
    }
    progress(kBlockReceived);

    std::string message = frame.message;
    if (!encoder::applyLengthRule(message, MaxMsgLength, TurncateMsgs)) {
        progress(kTooLong + controlsAsBlanks(frame.pin) + "," + encoder::stripLineBreaks(message));
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
        return true;
    }
    m_clock.sleepFor(std::chrono::milliseconds(2));
    if (!m_connected.load()) {
        Drop();
        return false;
    }
    message = encoder::stripLineBreaks(message);

    std::string id;
    bool submitted = true;
    if (OnMsgReceived) {
        try {
            OnMsgReceived(*this, frame.pin, message, id, submitted);
        } catch (...) {
            // A failure in the page handler drops the connection, unanswered.
            Drop();
            return false;
        }
    }
    if (submitted) {
        progress(kSubmitted + controlsAsBlanks(frame.pin) + "," + message);
        reply(encoder::acceptAnswer(block));
    } else {
        progress(kProcessingError + controlsAsBlanks(frame.pin) + "," + message);
        reply(encoder::refuseAnswer(block, encoder::kCodeInvalidCommandFormat));
    }
    return true;
}

// A reply that cannot be written is not repeated.
void TKORPelmora::reply(const std::string& bytes) { SendString(bytes); }

}  // namespace nv
