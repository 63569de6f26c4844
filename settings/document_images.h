// Settings documents and the two settings images: where each value of a document lives in the
// files (a slot of a named record, as the server's commands read and write it), the document
// of two images, and a document written into two images. On bytes only; no I/O.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/settings_document.h"

namespace settings_tool {

// The images of the two files; empty when the file is not part of the work.
struct settings_images {
    std::optional<std::string> interface_image;  // ifc_set.set
    std::optional<std::string> valve_image;      // valve_fp.set
};

// The document of the images given: the interface image gives status, selection, targets
// and histogram selection, the valve image the valve angles. Each value is read as the
// server's read commands read it. Problems (one text each, naming the file's table, the record
// and the value's path): an image shorter than its table (the server would replace it with
// the defaults), a record the server cannot read (it would answer 0 or "?"), and every value
// a document may not hold (check_document).
struct images_reading {
    ifc_client::settings_document document;
    std::vector<std::string> problems;
};
images_reading document_of(const settings_images& images);

// Writes the values of doc into the images (each must be given when doc has values for it),
// as the server's write commands store them: each into its slot, every other byte as it was.
// Problems: a record the value cannot be stored in (missing, of an unusable type), an image
// shorter than its table. counts: the values the document sets in each image, and how many of
// them changed.
struct images_writing {
    int interface_values = 0, interface_changed = 0;
    int valve_values = 0, valve_changed = 0;
    std::vector<std::string> problems;
};
images_writing write_document(const ifc_client::settings_document& doc, settings_images& images);

// Whether doc has values for each file.
bool sets_interface(const ifc_client::settings_document& doc);
bool sets_valves(const ifc_client::settings_document& doc);

}  // namespace settings_tool
