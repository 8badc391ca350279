#pragma once
// hQueue.Dat: the pages the engine still held at stop (the queue, the
// secondary list, the port threads' batches, the pages waiting for a page
// worker), kept for the next start. A
// format of our own:
//
//   "NVHQUEUE"  u32 version (1)  u32 page count
//   per page:   u8 parts (1 recipient, 2 primary provider, 4 secondary provider,
//               8 waits for a page worker, not in the queue)
//               u8 page, primary and secondary connection errors (0..2)
//               u32 length + originator, message text, raw block
//               the recipient (1124 bytes), primary and secondary provider
//               (2871 bytes each) records present in `parts`, as stored in memory
//   "END."
//
// Integers little-endian. Provider records carry their passwords deciphered,
// as in memory: the file is owner and group only, like Config.Dat.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/PageRecord.h"

namespace nv {

inline constexpr const char* kQueueFileName = "hQueue.Dat";
// Where a file that cannot be read is moved, so the next stop does not overwrite it.
inline constexpr const char* kUnreadableQueueFileName = "hQueue.Dat.bad";
inline constexpr std::uint32_t kQueueFileVersion = 1;

struct SavedPage {
    PageRecordPtr page;
    // Connection errors counted so far (ConnectionErrors' page, primary and
    // secondary keys), so a restart does not reset the three-strike rule.
    int pageErrors = 0;
    int primaryErrors = 0;
    int secondaryErrors = 0;
    // Handed to the page workers and not started: it goes back to them.
    bool forWorker = false;
};

std::string encodeQueueFile(const std::vector<SavedPage>& pages);
// False with a reason for anything but a whole file of this format and version.
bool decodeQueueFile(std::string_view bytes, std::vector<SavedPage>& pages, std::string& error);

}  // namespace nv
