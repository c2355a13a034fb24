// Folder listings (and so the XML reader) as a phone sends them.
#include "vyrXML.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto objects = vyr::ParseFolderListing(data, size);
    std::size_t chars = 0;
    for (const auto& o : *objects)
        chars += o->Name().size() + static_cast<std::size_t>(o->Permissions().Bits());

    vyr::TvyrXMLTree tree;
    tree.LoadFromStream(data, size);
    if (tree.NodeCount() < 0)
        __builtin_trap();
    if (vyr::TvyrXMLNode* n = tree.FindNode(u"file"))
        for (vyr::TvyrXMLNode* c = n->FirstChild(); c; c = c->NextSibling())
            chars += c->Name().size() + (c->FindAttribute(u"name") ? 1 : 0);
    (void)chars;
    return 0;
}

static std::vector<uint8_t> Seed(const std::string& s) {
    return {s.begin(), s.end()};
}
static const std::vector<std::vector<uint8_t>> kSeeds = {
    Seed("<?xml version=\"1.0\"?>\r\n<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\">\r\n"
         "<folder-listing version=\"1.0\">\r\n\t<parent-folder/>\r\n\t<folder name=\"Images\" user-perm=\"RW\"/>\r\n"
         "\t<file name=\"a.txt\" size=\"10\" modified=\"20050131T235959Z\" user-perm=\"R\"/>\r\n</folder-listing>"),
    Seed("<a>one<b/>two<![CDATA[x\r\ny]]></a></a></b>"),
};
// Seeds for the plain driver; the declaration is shared with it, so the C++ return type stays.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t TavlinFuzzSeedCount() {
    return kSeeds.size();
}
extern "C" const std::vector<uint8_t>& TavlinFuzzSeed(size_t i) {
    return kSeeds[i];
}
