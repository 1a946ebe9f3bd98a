// Table and JSON renderings of a package listing.
#include "ListingFormat.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

std::string EntryKind(const EntryRecord& r)
{
    return r.compressedSize ? "lzw" : "stored";
}

std::string Plural(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string FormatFileTime(const FileTime& time)
{
    uint64_t ticks = (uint64_t{time.highDateTime} << 32) | time.lowDateTime;
    if (ticks == 0)
        return "-";
    // 100-ns ticks from 1601 to seconds from 1970.
    const int64_t seconds = static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(year), month, day,
                  static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
                  static_cast<unsigned>(rest % 60));
    return text;
}

std::string FormatAttributes(uint32_t attributes)
{
    std::string text = "----";
    if (attributes & kFileAttributeReadOnly)
        text[0] = 'R';
    if (attributes & 0x02)
        text[1] = 'H';
    if (attributes & 0x04)
        text[2] = 'S';
    if (attributes & kFileAttributeArchive)
        text[3] = 'A';
    return text;
}

namespace {

std::string IdentityText(const LauncherIdentity& identity)
{
    std::string out;
    for (const auto& string : identity.strings)
        out += "version string " + string.first + ": " + string.second + "\n";
    if (!identity.fileVersion.empty())
        out += "file version: " + identity.fileVersion + ", product version: " + identity.productVersion + "\n";
    out += "execution level: " + (identity.executionLevel.empty() ? "none" : identity.executionLevel) + "\n";
    std::string sizes;
    for (const std::string& size : identity.iconSizes)
        sizes += (sizes.empty() ? "" : ", ") + size;
    out += "icon sizes: " + (sizes.empty() ? "none" : sizes) + "\n";
    return out + "progress text: " + identity.progressText + "\n";
}

std::string IdentityJson(const LauncherIdentity& identity)
{
    const auto orNull = [](const std::string& text) { return text.empty() ? std::string("null") : JsonString(text); };
    std::string out = "{\"strings\":{";
    for (size_t i = 0; i < identity.strings.size(); ++i)
        out += (i ? "," : "") + JsonString(identity.strings[i].first) + ":" + JsonString(identity.strings[i].second);
    out += "},\"fileVersion\":" + orNull(identity.fileVersion) +
           ",\"productVersion\":" + orNull(identity.productVersion) +
           ",\"executionLevel\":" + orNull(identity.executionLevel) + ",\"iconSizes\":[";
    for (size_t i = 0; i < identity.iconSizes.size(); ++i)
        out += (i ? "," : "") + JsonString(identity.iconSizes[i]);
    return out + "],\"progressText\":" + JsonString(identity.progressText) + "}";
}

}  // namespace

std::string FormatListingText(const PackageListing& listing, const std::string& path,
                              const std::string& architecture, const std::string& fileVersion,
                              const LauncherIdentity* identity)
{
    std::string out = path + ": " + Plural(listing.imageSize, "byte", "bytes") + ", version ";
    char version[16];
    std::snprintf(version, sizeof version, "0x%04X", listing.header.version);
    out += version;
    out += ", " + Plural(listing.groups.size(), "group", "groups") + ", " +
           Plural(listing.fileEntries, "entry", "entries") + "\n";
    if (!architecture.empty())
        out += "architecture: " + architecture + "\n";
    if (!fileVersion.empty())
        out += "launcher file version: " + fileVersion + "\n";
    if (identity != nullptr)
        out += IdentityText(*identity);
    if (listing.skippedGroups)
        out += "(" + Plural(listing.skippedGroups, "slot", "slots") + " without a group record skipped)\n";
    for (const ListedGroup& g : listing.groups) {
        out += "\n[" + g.name + "]  " + Plural(g.entries.size(), "entry", "entries") + "\n";
        char line[128];
        if (!g.entries.empty()) {
            std::snprintf(line, sizeof line, "  %12s %12s %-6s %-4s %-19s  %s\n", "size", "stored", "form", "attr",
                          "modified (UTC)", "name");
            out += line;
        }
        for (const ListedEntry& e : g.entries) {
            std::snprintf(line, sizeof line, "  %12lu %12lu %-6s %-4s %-19s  ",
                          static_cast<unsigned long>(e.record.uncompressedSize),
                          static_cast<unsigned long>(e.record.dataLength), EntryKind(e.record).c_str(),
                          FormatAttributes(e.record.attributes).c_str(),
                          FormatFileTime(e.record.lastWriteTime).c_str());
            out += line + e.name + "\n";
        }
        if (g.skippedChildren)
            out += "  (" + Plural(g.skippedChildren, "child", "children") + " that are not file entries skipped)\n";
    }
    return out;
}

std::string JsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // Copy one well-formed UTF-8 sequence, or replace the byte.
        size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        bool ok = n != 0 && i + n <= utf8.size();
        for (size_t k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (ok && n == 3) {
            unsigned char c1 = static_cast<unsigned char>(utf8[i + 1]);
            ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
        } else if (ok && n == 4) {
            unsigned char c1 = static_cast<unsigned char>(utf8[i + 1]);
            ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
        }
        if (ok) {
            out.append(utf8, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

std::string FormatListingJson(const PackageListing& listing, const std::string& path,
                              const std::string& architecture, const std::string& fileVersion,
                              const std::function<std::string(const std::string&)>& toUtf8,
                              const LauncherIdentity* identity)
{
    auto text = [&](const std::string& s) { return JsonString(toUtf8 ? toUtf8(s) : s); };
    std::string out = "{\"package\":" + text(path) + ",\"size\":" + std::to_string(listing.imageSize) +
                      ",\"version\":" + std::to_string(listing.header.version) +
                      ",\"entryCount\":" + std::to_string(listing.fileEntries) + ",\"groups\":[";
    for (size_t i = 0; i < listing.groups.size(); ++i) {
        const ListedGroup& g = listing.groups[i];
        out += i ? "," : "";
        out += "{\"name\":" + text(g.name) + ",\"entries\":[";
        for (size_t j = 0; j < g.entries.size(); ++j) {
            const EntryRecord& r = g.entries[j].record;
            out += j ? "," : "";
            out += "{\"name\":" + text(g.entries[j].name) + ",\"size\":" + std::to_string(r.uncompressedSize) +
                   ",\"compressedSize\":" + std::to_string(r.compressedSize) +
                   ",\"storedSize\":" + std::to_string(r.dataLength) +
                   ",\"attributes\":" + std::to_string(r.attributes) +
                   ",\"creationTime\":" + JsonString(FormatFileTime(r.creationTime)) +
                   ",\"lastAccessTime\":" + JsonString(FormatFileTime(r.lastAccessTime)) +
                   ",\"lastWriteTime\":" + JsonString(FormatFileTime(r.lastWriteTime)) + "}";
        }
        out += "]}";
    }
    return out + "],\"architecture\":" + (architecture.empty() ? "null" : JsonString(architecture)) +
           ",\"fileVersion\":" + (fileVersion.empty() ? "null" : JsonString(fileVersion)) +
           ",\"identity\":" + (identity != nullptr ? IdentityJson(*identity) : std::string("null")) + "}\n";
}
