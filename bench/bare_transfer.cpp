// flintgate-bench-bare RESOURCE FIRMWARE: programs the image records of a firmware file into an
// instrument that is already in writer mode with the same conversation as the programmer (the
// same frames, the same 4096-byte data pieces, the same replies read) through the same VISA
// layer, as one flat loop without the driver, link, progress or file layers above it.
// Prints "bytes=N seconds=S".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/firmware_header.h"
#include "firmware/image_index.h"
#include "firmware/image_record.h"
#include "programmer/command_frame.h"
#include "visa/visa.h"

namespace {

using namespace fg;
using namespace fg::visa;

bool Write(ViSession session, const uint8_t* bytes, uint32_t count) {
  ViUInt32 written = 0;
  return viWrite(session, bytes, count, &written) == VI_SUCCESS && written == count;
}

bool WriteFrame(ViSession session, uint8_t command, uint32_t payload, const uint8_t* parameters) {
  const CommandFrame frame = BuildCommandFrame(command, payload, parameters);
  return Write(session, reinterpret_cast<const uint8_t*>(&frame), sizeof frame);
}

bool ReadReply(ViSession session, uint8_t* reply) {
  ViUInt32 received = 0;
  const ViStatus status = viRead(session, reply, kReplyBufferSize, &received);
  reply[received < kReplyBufferSize ? received : kReplyBufferSize] = 0;
  return status == VI_SUCCESS || status == VI_SUCCESS_MAX_CNT;
}

bool Acknowledged(ViSession session) {
  uint8_t reply[kReplyBufferSize + 1] = {};
  return ReadReply(session, reply) && std::memcmp(reply, "OK", 2) == 0;
}

// A frame without payload, then its acknowledgement.
bool Exchange(ViSession session, uint8_t command, const uint8_t* parameters = nullptr) {
  return WriteFrame(session, command, 0, parameters) && Acknowledged(session);
}

// One record, as the programmer sends it (records for block 0 do not occur in packages).
bool Program(ViSession session, const std::vector<uint8_t>& record) {
  const auto length = static_cast<uint32_t>(record.size());
  const uint8_t blockId = record[length - 2];
  if (!Exchange(session, CmdReset, kResetFrameParameters)) return false;
  if (!WriteFrame(session, CmdData, length, nullptr)) return false;
  for (uint32_t sent = 0; sent < length; sent += kDataPieceSize) {
    const uint32_t piece = length - sent < kDataPieceSize ? length - sent : kDataPieceSize;
    if (!Write(session, record.data() + sent, piece)) return false;
  }
  if (!Acknowledged(session) || !Exchange(session, CmdDataEnd)) return false;
  if (!WriteFrame(session, CmdBlockId, 1, nullptr) || !Write(session, &blockId, 1) ||
      !Acknowledged(session)) {
    return false;
  }
  char size[kSizeFieldLength] = {};
  std::snprintf(size, sizeof size, "%u", length - static_cast<uint32_t>(kRecordTrailerSize));
  if (!WriteFrame(session, CmdSize, kSizeFieldLength, nullptr) ||
      !Write(session, reinterpret_cast<const uint8_t*>(size), kSizeFieldLength) ||
      !Acknowledged(session)) {
    return false;
  }
  uint8_t reply[kReplyBufferSize + 1] = {};
  if (!WriteFrame(session, CmdChecksum, 0, nullptr) || !ReadReply(session, reply)) return false;
  if (!Exchange(session, CmdSetupEnd) || !WriteFrame(session, CmdProgram, 0, nullptr)) return false;
  // Progress replies until the final one.
  while (ReadReply(session, reply)) {
    if (std::memcmp(reply, "OK", 2) == 0) return true;
    if (std::memcmp(reply, "eras:", 5) != 0 && std::memcmp(reply, "prog:", 5) != 0 &&
        std::memcmp(reply, "RtnOk", 5) != 0) {
      return false;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: flintgate-bench-bare RESOURCE FIRMWARE\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[2], "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 1;
  }
  FirmwareHeader header{};
  ParseFirmwareHeader(&header, file);
  ImageIndex index{};
  index.capacity = kImageIndexMaxCapacity;
  ParseImageIndexStream(&index, file, header.payloadOffset);
  std::vector<std::vector<uint8_t>> records;
  for (int32_t i = 0; i < index.imageCount; ++i) {
    const ImageIndexEntry& e = index.images[i];
    std::vector<uint8_t> record(static_cast<size_t>(e.length));
    std::fseek(file, static_cast<long>(header.payloadOffset) + e.offset, SEEK_SET);
    if (std::fread(record.data(), 1, record.size(), file) != record.size()) {
      std::fprintf(stderr, "short record %d\n", i);
      return 1;
    }
    records.push_back(std::move(record));
  }
  std::fclose(file);

  ViSession rm = VI_NULL;
  ViSession session = VI_NULL;
  if (viOpenDefaultRM(&rm) != VI_SUCCESS || viOpen(rm, argv[1], VI_NO_LOCK, 1000, &session) != VI_SUCCESS) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  viSetAttribute(session, VI_ATTR_TMO_VALUE, 10000);

  uint64_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const std::vector<uint8_t>& record : records) {
    if (!Program(session, record)) {
      std::fprintf(stderr, "the writer refused an image\n");
      return 1;
    }
    bytes += record.size();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  viClose(session);
  viClose(rm);
  std::printf("bytes=%llu seconds=%.6f\n", static_cast<unsigned long long>(bytes), seconds);
  return 0;
}
