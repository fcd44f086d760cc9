#pragma once

namespace ondavox::server {

class COndavoxDoc;

// Loads |document| for the window program. When a database cannot be read, shows the
// framework's message that no document could be created, with the file and the place of the
// failure under it, and returns false: the program then ends. Window thread only.
bool LoadDocumentOrReport(COndavoxDoc& document);

}  // namespace ondavox::server
