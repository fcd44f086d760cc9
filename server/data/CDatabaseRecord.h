#pragma once

#include <string>

#include "server/data/ArchiveReader.h"
#include "server/data/ArchiveWriter.h"

namespace ondavox::server {

// A record of a database file, kept in a RecordStore. Each derived class names its stored
// class in a static member kClass (a RecordClass) and has a default constructor for the
// reader. Not thread safe; the store's callers serialise access.
class CDatabaseRecord {
 public:
  virtual ~CDatabaseRecord() = default;

  // Writes the record's body in its stored field order.
  virtual void Serialize(ArchiveWriter& archive) const = 0;
  // Reads the record's body; a failure is kept by |archive|.
  virtual void Serialize(ArchiveReader& archive) = 0;
  // The key that the store finds the record by.
  virtual std::string GetKey() const = 0;

  bool operator==(const CDatabaseRecord&) const = default;

 protected:
  CDatabaseRecord() = default;
  CDatabaseRecord(const CDatabaseRecord&) = default;
  CDatabaseRecord& operator=(const CDatabaseRecord&) = default;
};

}  // namespace ondavox::server
