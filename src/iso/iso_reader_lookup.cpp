// ISOReader: finding paths in the loaded tree. Look-ups never touch the image file.
#include <stdexcept>

#include "iso/entry_name.h"
#include "iso/image_console.h"
#include "iso/image_path.h"
#include "iso/iso_reader.h"

DirectoryNode* ISOReader::findDirectoryRecord(const std::string& path) {
    if (!loaded) {
        return nullptr;
    }
    try {
        DirectoryNode* current = root.get();
        if (path.empty()) {
            return current;
        }
        const std::vector<std::string> components = image_path::split(path);
        for (size_t i = 0; i < components.size(); ++i) {
            DirectoryNode* match =
                entry_name::findInList(current, components[i], entry_name::LetterCase::exact);
            if (match == nullptr) {
                return nullptr;
            }
            if (match->isDirectory()) {
                current = match->children.get();
                if (current == nullptr) {
                    return nullptr;
                }
            } else {
                current = match;
            }
            // Only a directory's list (headed by its "." node) can be walked further.
            if (i + 1 < components.size() && current->name != ".") {
                return nullptr;
            }
        }
        return current;
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOReader findDirectoryRecord exception: ") + e.what());
        return nullptr;
    }
}

bool ISOReader::FileExists(const std::string& isoPath) {
    if (loadImage() != 0) {
        return false;
    }
    try {
        std::string path = isoPath;
        trimLeadingSeparators(path);
        const DirectoryNode* node = findDirectoryRecord(path);
        return node != nullptr && node->isFile();
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOReader FileExists exception: ") + e.what());
        return false;
    }
}

bool ISOReader::DirectoryExists(const std::string& isoPath) {
    if (loadImage() != 0) {
        return false;
    }
    try {
        std::string path = isoPath;
        trimLeadingSeparators(path);
        trimTrailingSeparators(path);
        const DirectoryNode* node = findDirectoryRecord(path);
        return node != nullptr && node->isDirectory();
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOReader DirectoryExists exception: ") + e.what());
        return false;
    }
}

bool ISOReader::NameTaken(const std::string& isoPath) {
    if (loadImage() != 0) {
        return false;
    }
    try {
        std::string path = isoPath;
        trimLeadingSeparators(path);
        trimTrailingSeparators(path);
        const std::string name = image_path::leaf(path);
        if (name.empty()) {
            return true;  // the root is always there
        }
        DirectoryNode* list = findDirectoryRecord(image_path::branch(path));
        if (list == nullptr || list->name != ".") {
            return false;
        }
        return entry_name::findInList(list, name, entry_name::LetterCase::ignored) != nullptr;
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOReader NameTaken exception: ") + e.what());
        return false;
    }
}
