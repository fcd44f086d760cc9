#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>

#include "server/data/ArchiveWriter.h"
#include "server/data/RecordStore.h"

namespace ondavox::test {

using server::ArchiveWriter;
using server::RecordStore;

// Feeds arbitrary bytes to the loader of RecordStore<Record>. When the first byte is odd, the
// rest follows a valid count (the second byte) and class record, so that mutations reach the
// record bodies. Checks: a failure is a format error inside the input and leaves the store as
// it was; a loaded store encodes to bytes that load to the same records, finds the first
// record of each key, and removes every record by key.
template <class Record>
int FuzzDatabase(const uint8_t* data, std::size_t size) {
  std::string bytes;
  if (size >= 2 && (data[0] & 1) != 0) {
    ArchiveWriter header;
    header.WriteU16(data[1]);
    header.WriteObjectHeader(Record::kClass);
    bytes = header.bytes();
    data += 2;
    size -= 2;
  }
  bytes.append(reinterpret_cast<const char*>(data), size);

  RecordStore<Record> store("fuzz.dat");
  const Status status = store.Decode(bytes);
  if (!status.ok()) {
    if (status.code() != Status::Code::kFormatError || status.offset() > bytes.size() ||
        store.GetCount() != 0) {
      std::abort();
    }
    return 0;
  }
  const std::string encoded = store.Encode();
  RecordStore<Record> again("fuzz.dat");
  if (!again.Decode(encoded).ok() || again.Encode() != encoded) std::abort();

  std::unordered_set<std::string> seen;
  store.ForEach([&](const Record& record) {
    const std::string key = record.GetKey();
    if (seen.insert(key).second && store.Find(key) != &record) std::abort();
  });
  std::size_t removed = 0;
  for (const std::string& key : seen) {
    while (store.Remove(key)) ++removed;
  }
  if (removed != again.GetCount() || store.GetCount() != 0) std::abort();
  return 0;
}

}  // namespace ondavox::test
