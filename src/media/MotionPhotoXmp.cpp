// SPDX-License-Identifier: GPL-2.0-or-later
// Motion photo XMP, merged as XML: the packet is read, and only a few spans of its text change
// (attributes added to the top-level description, values replaced, one directory item appended),
// so that whatever else the photograph's packet says stays byte for byte.
#include "media/MotionPhotoXmp.h"

#include <algorithm>
#include <vector>

#include "media/XmpPacket.h"

namespace media {

namespace {

constexpr char kCamera[] = "http://ns.google.com/photos/1.0/camera/";
constexpr char kContainer[] = "http://ns.google.com/photos/1.0/container/";
constexpr char kItem[] = "http://ns.google.com/photos/1.0/container/item/";

// The camera properties, in the order they are written; nullptr stands for the video's length.
constexpr const char* kCameraProperties[][2] = {
    {"MotionPhoto", "1"}, {"MotionPhotoVersion", "1"}, {"MotionPhotoPresentationTimestampUs", "0"},
    {"MicroVideo", "1"},  {"MicroVideoVersion", "1"},  {"MicroVideoOffset", nullptr},
    {"MicroVideoPresentationTimestampUs", "0"},
};

// A decimal count as XMP writes one (surrounding whitespace allowed), nothing for anything else.
std::optional<std::uint64_t> count(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::size_t first = text->find_first_not_of(" \t\r\n"), last = text->find_last_not_of(" \t\r\n");
  if (first == std::string::npos || last - first >= 20) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = first; i <= last; ++i) {
    const char c = (*text)[i];
    if (c < '0' || c > '9' || value > (UINT64_MAX - std::uint64_t(c - '0')) / 10) return std::nullopt;
    value = value * 10 + std::uint64_t(c - '0');
  }
  return value;
}

bool saysMotionPhoto(const XmpPacket& xmp) {
  return count(xmp.Value(kCamera, "MotionPhoto")) == 1u || count(xmp.Value(kCamera, "MicroVideo")) == 1u;
}

// The element holding a directory entry's Item fields: its Container:Item, written directly in
// the rdf:li or inside a description of it.
int itemOf(const XmpPacket& xmp, int li) {
  int item = xmp.Child(li, kContainer, "Item");
  if (item < 0) {
    const int d = xmp.Child(li, kRdfNamespace, "Description");
    if (d >= 0) item = xmp.Child(d, kContainer, "Item");
  }
  if (item >= 0 && xmp.Element(item).attributes.size() <= 1) {
    const int d = xmp.Child(item, kRdfNamespace, "Description");
    if (d >= 0) item = d;
  }
  return item;
}

std::vector<int> directoryItems(const XmpPacket& xmp, int directory, int* seq) {
  std::vector<int> items;
  *seq = xmp.Child(directory, kRdfNamespace, "Seq");
  if (*seq < 0) return items;
  for (int li : xmp.Element(*seq).children)
    if (xmp.Element(li).uri == kRdfNamespace && xmp.Element(li).local == "li") items.push_back(li);
  return items;
}

int directoryOf(const XmpPacket& xmp, int* holder) {
  for (int d : xmp.Descriptions())
    if (const int directory = xmp.Child(d, kContainer, "Directory"); directory >= 0) {
      if (holder) *holder = d;
      return directory;
    }
  return -1;
}

// Replacements of spans of the packet's text, applied in one pass.
class Edits {
 public:
  void replace(std::size_t at, std::size_t erase, std::string text) { mEdits.push_back({at, erase, std::move(text)}); }
  std::optional<std::string> apply(const std::string& source) {
    std::stable_sort(mEdits.begin(), mEdits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
    std::string out;
    std::size_t from = 0;
    for (const Edit& e : mEdits) {
      if (e.at < from || e.at + e.erase > source.size()) return std::nullopt;  // overlapping edits: none are made
      out.append(source, from, e.at - from);
      out += e.text;
      from = e.at + e.erase;
    }
    out.append(source, from, std::string::npos);
    return out;
  }

 private:
  struct Edit {
    std::size_t at, erase;
    std::string text;
  };
  std::vector<Edit> mEdits;
};

// The prefixes to write names of a namespace with where an element stands: the one bound there,
// else one used nowhere in the packet, declared on that element.
class Prefixes {
 public:
  Prefixes(const XmpPacket& xmp, int where) : mXmp(xmp), mWhere(where) {}
  std::string operator()(const char* uri, const char* wanted) {
    if (auto bound = mXmp.PrefixFor(mWhere, uri)) return *bound;
    for (const auto& [u, prefix] : mChosen)
      if (u == uri) return prefix;
    mChosen.emplace_back(uri, mXmp.UnusedPrefix(wanted));
    declarations += " xmlns:" + mChosen.back().second + "=\"" + uri + "\"";
    return mChosen.back().second;
  }
  std::string declarations;

 private:
  const XmpPacket& mXmp;
  int mWhere;
  std::vector<std::pair<std::string, std::string>> mChosen;
};

std::string itemEntry(const std::string& rdf, const std::string& container, const std::string& item,
                      const std::string& declarations, const char* mime, const char* semantic, std::uint64_t length,
                      std::uint64_t padding) {
  return "     <" + rdf + ":li" + declarations + " " + rdf + ":parseType=\"Resource\">\n      <" + container + ":Item " + item +
         ":Mime=\"" + mime + "\" " + item + ":Semantic=\"" + semantic + "\" " + item + ":Length=\"" + std::to_string(length) +
         "\" " + item + ":Padding=\"" + std::to_string(padding) + "\"/>\n     </" + rdf + ":li>\n";
}

std::string primaryEntry(const std::string& rdf, const std::string& c, const std::string& i, const std::string& decl,
                         std::uint64_t padding) {
  return itemEntry(rdf, c, i, decl, "image/jpeg", "Primary", 0, padding);
}

std::string videoEntry(const std::string& rdf, const std::string& c, const std::string& i, const std::string& decl,
                       std::uint64_t length) {
  return itemEntry(rdf, c, i, decl, "video/mp4", "MotionPhoto", length, 0);
}

// Children added at the end of an element; an empty one (<a/>) gets its end tag.
void appendChildren(Edits& edits, const XmpElement& e, const std::string& children) {
  if (e.empty()) edits.replace(e.insertAt, 2, ">" + children + "</" + e.qname + ">");
  else edits.replace(e.endTag, 0, children);
}

// Where attributes go in an element's start tag: before its '/>' or its '>'.
std::size_t attributesAt(const XmpElement& e) { return e.empty() ? e.insertAt : e.insertAt - 1; }

// Sets a count field of a directory item to value: in place where it is written, else added in
// the form the item's other fields have.
void setField(Edits& edits, const XmpPacket& xmp, int item, const char* name, std::uint64_t value) {
  const std::string text = std::to_string(value);
  if (const XmpAttribute* a = xmp.Attribute(item, kItem, name)) return edits.replace(a->valueBegin, a->valueEnd - a->valueBegin, text);
  const XmpElement& e = xmp.Element(item);
  if (const int child = xmp.Child(item, kItem, name); child >= 0) {
    const XmpElement& c = xmp.Element(child);
    if (c.empty()) edits.replace(c.start, c.end - c.start, "<" + c.qname + ">" + text + "</" + c.qname + ">");
    else edits.replace(c.insertAt, c.endTag - c.insertAt, text);
    return;
  }
  Prefixes names(xmp, item);
  const std::string prefix = names(kItem, "Item");
  // A node written with rdf:parseType="Resource" or with child elements takes no property attributes.
  if (!e.children.empty() || xmp.Attribute(item, kRdfNamespace, "parseType"))
    appendChildren(edits, e, "<" + prefix + ":" + name + names.declarations + ">" + text + "</" + prefix + ":" + name + ">");
  else
    edits.replace(attributesAt(e), 0, names.declarations + " " + prefix + ":" + name + "=\"" + text + "\"");
}

// The packet without the whitespace padding between its root element and its closing
// processing instruction.
std::string withoutPadding(const std::string& packet, std::size_t rootEnd) {
  const std::size_t trailer = packet.rfind("<?xpacket end");
  if (trailer == std::string::npos || trailer < rootEnd) return packet;
  std::size_t start = trailer;
  while (start > rootEnd && std::string_view(" \t\r\n").find(packet[start - 1]) != std::string_view::npos) --start;
  return packet.substr(0, start) + "\n" + packet.substr(trailer);
}

}  // namespace

std::string MotionPhotoXmp(std::uint64_t videoLength, std::uint64_t bytesAfterPicture) {
  std::string camera;
  for (const auto& [name, value] : kCameraProperties)
    camera += std::string("\n    GCamera:") + name + "=\"" + (value ? value : std::to_string(videoLength)) + "\"";
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\"\n"
         "    xmlns:GCamera=\"" + std::string(kCamera) + "\"\n"
         "    xmlns:Container=\"" + kContainer + "\"\n"
         "    xmlns:Item=\"" + kItem + "\"" +
         camera + ">\n   <Container:Directory>\n    <rdf:Seq>\n" +
         primaryEntry("rdf", "Container", "Item", "", bytesAfterPicture) + videoEntry("rdf", "Container", "Item", "", videoLength) +
         "    </rdf:Seq>\n   </Container:Directory>\n"
         "  </rdf:Description>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>";
}

bool XmpSaysMotionPhoto(std::string_view packet) {
  const auto xmp = XmpPacket::Parse(packet);
  return xmp && saysMotionPhoto(*xmp);
}

bool XmpHasContainerDirectory(std::string_view packet) {
  const auto xmp = XmpPacket::Parse(packet);
  return xmp && directoryOf(*xmp, nullptr) >= 0;
}

std::optional<std::uint64_t> XmpMotionPhotoVideoLength(std::string_view packet) {
  const auto xmp = XmpPacket::Parse(packet);
  if (!xmp) return std::nullopt;
  if (auto offset = count(xmp->Value(kCamera, "MicroVideoOffset"))) return offset;
  const int directory = directoryOf(*xmp, nullptr);
  int seq = -1;
  const std::vector<int> items = directory >= 0 ? directoryItems(*xmp, directory, &seq) : std::vector<int>();
  if (items.size() < 2) return std::nullopt;
  const int item = itemOf(*xmp, items.back());
  return item >= 0 ? count(xmp->Field(item, kItem, "Length")) : std::nullopt;
}

std::optional<std::string> MergeMotionPhotoXmp(const std::string& photographs, std::uint64_t videoLength,
                                               std::uint64_t bytesAfterPicture, std::string* why) {
  // NUL bytes some cameras leave after the packet are no part of it, nor of the merged one.
  const std::string packet = photographs.substr(0, photographs.find_last_not_of('\0') + 1);
  auto refuse = [why](const std::string& words) -> std::optional<std::string> {
    if (why) *why = words;
    return std::nullopt;
  };
  std::string reason;
  const auto xmp = XmpPacket::Parse(packet, &reason);
  if (!xmp) return refuse("the photograph's XMP is not well-formed XML (" + reason + ")");
  if (xmp->Descriptions().empty()) return refuse("the photograph's XMP has no rdf:Description to take the motion photo's properties");
  if (saysMotionPhoto(*xmp)) return refuse("the photograph already is a motion photo");

  // The description that holds a container directory already takes the properties, else the first.
  int holder = xmp->Descriptions().front();
  const int directory = directoryOf(*xmp, &holder);
  const XmpElement& h = xmp->Element(holder);
  Edits edits;
  Prefixes names(*xmp, holder);
  std::string attributes;
  for (const auto& [name, fixed] : kCameraProperties) {
    const std::string value = fixed ? fixed : std::to_string(videoLength);
    bool replaced = false;
    for (int d : xmp->Descriptions()) {
      if (const XmpAttribute* a = xmp->Attribute(d, kCamera, name)) {
        edits.replace(a->valueBegin, a->valueEnd - a->valueBegin, value);
      } else if (const int c = xmp->Child(d, kCamera, name); c >= 0) {
        const XmpElement& e = xmp->Element(c);
        if (!e.children.empty()) return refuse(std::string("the photograph's XMP holds a structure where a motion photo has its ") + name);
        if (e.empty()) edits.replace(e.start, e.end - e.start, "<" + e.qname + ">" + value + "</" + e.qname + ">");
        else edits.replace(e.insertAt, e.endTag - e.insertAt, value);
      } else {
        continue;
      }
      replaced = true;
      break;
    }
    if (!replaced) attributes += "\n    " + names(kCamera, "GCamera") + ":" + name + "=\"" + value + "\"";
  }

  std::string children;
  if (directory < 0) {
    const std::string rdf = names(kRdfNamespace, "rdf"), c = names(kContainer, "Container"), i = names(kItem, "Item");
    children = "\n   <" + c + ":Directory>\n    <" + rdf + ":Seq>\n" + primaryEntry(rdf, c, i, "", bytesAfterPicture) +
               videoEntry(rdf, c, i, "", videoLength) + "    </" + rdf + ":Seq>\n   </" + c + ":Directory>\n  ";
  } else {
    // The items describe the file in order: the video goes last, after a gain map or whatever
    // else the photograph's directory names, and what follows the picture undescribed becomes
    // the padding of the item it follows.
    int seq = -1;
    const std::vector<int> items = directoryItems(*xmp, directory, &seq);
    if (seq < 0) return refuse("the photograph's XMP has a container directory that is no rdf:Seq");
    Prefixes inSeq(*xmp, seq);
    const std::string rdf = inSeq(kRdfNamespace, "rdf"), c = inSeq(kContainer, "Container"), i = inSeq(kItem, "Item");
    std::string entries;
    if (items.empty()) {
      entries = primaryEntry(rdf, c, i, inSeq.declarations, bytesAfterPicture);
    } else {
      std::uint64_t described = 0;
      int last = -1;
      for (std::size_t n = 0; n < items.size(); ++n) {
        last = itemOf(*xmp, items[n]);
        if (last < 0) return refuse("the photograph's XMP has a container directory item without an Item");
        const auto semantic = xmp->Field(last, kItem, "Semantic");
        if (semantic && *semantic == "MotionPhoto") return refuse("the photograph's XMP names a video in its container directory already");
        const auto length = count(xmp->Field(last, kItem, "Length"));
        const auto padding = xmp->Field(last, kItem, "Padding") ? count(xmp->Field(last, kItem, "Padding")) : std::optional<std::uint64_t>(0);
        if ((n > 0 && !length) || !padding) return refuse("the photograph's XMP has a container directory item without a readable length");
        described += (n > 0 ? *length : 0) + *padding;
        if (described > bytesAfterPicture)
          return refuse("the photograph's XMP describes more bytes after the picture than follow it");
      }
      if (described < bytesAfterPicture) {
        const auto padding = count(xmp->Field(last, kItem, "Padding")).value_or(0);
        setField(edits, *xmp, last, "Padding", padding + (bytesAfterPicture - described));
      }
    }
    entries += videoEntry(rdf, c, i, inSeq.declarations, videoLength);
    appendChildren(edits, xmp->Element(seq), entries);
  }
  // The new attributes and declarations before the description's children, which may close it.
  if (!attributes.empty() || !names.declarations.empty()) edits.replace(attributesAt(h), 0, names.declarations + attributes);
  if (!children.empty()) appendChildren(edits, h, children);

  auto merged = edits.apply(packet);
  if (!merged) return refuse("the motion photo's properties could not be placed in the photograph's XMP");
  if (merged->size() > kMaxXmpPacket)
    merged = withoutPadding(*merged, xmp->Element(0).end + (merged->size() - packet.size()));
  if (merged->size() > kMaxXmpPacket)
    return refuse("the photograph's XMP would take " + std::to_string(merged->size()) + " bytes with the motion photo's properties, more than one JPEG segment holds (" +
                  std::to_string(kMaxXmpPacket) + ")");
  // What is written reads back as XML saying the same, or is not written.
  const auto check = XmpPacket::Parse(*merged);
  if (!check || !saysMotionPhoto(*check) || XmpMotionPhotoVideoLength(*merged) != videoLength)
    return refuse("the motion photo's properties could not be merged into the photograph's XMP");
  return merged;
}

}  // namespace media
