#include "settings/IniFile.h"

#include "common/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// UTF-16 with its byte-order mark, or without one: a NUL beside the first ASCII character.
bool isUtf16(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return true;
    return bytes.size() >= 2 && (bytes[0] == '\0') != (bytes[1] == '\0');
}

QByteArray lookupKey(const QString& name)
{
    return name.trimmed().toUtf8().toLower();
}

QByteArray lookupKey(QByteArrayView name)
{
    return name.trimmed().toByteArray().toLower();
}

QString decodeValue(QByteArrayView raw)
{
    QString value = QString::fromUtf8(raw.trimmed());
    // The profile service hands back at most 254 characters.
    if (value.size() > IniFile::kMaxValueLength) {
        qsizetype cut = IniFile::kMaxValueLength;
        if (value.at(cut - 1).isHighSurrogate())
            --cut;
        value.truncate(cut);
    }
    return value;
}

} // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

bool IniFile::load(QString* error)
{
    loadFailure_.clear();
    const QFileInfo info(path_);
    QByteArray bytes;
    if (info.exists()) {
        QFile file(path_);
        // A device or a pipe would be read without end, or block until someone writes to it.
        if (!info.isFile())
            loadFailure_ = QStringLiteral("it is not a regular file");
        else if (!file.open(QIODevice::ReadOnly))
            loadFailure_ = file.errorString();
        else
            bytes = file.read(kMaxFileSize + 1); // one more byte tells a file that is too large
        if (loadFailure_.isEmpty() && bytes.size() > kMaxFileSize)
            loadFailure_ = QStringLiteral("it is larger than %1 MB").arg(kMaxFileSize >> 20);
        if (loadFailure_.isEmpty() && isUtf16(bytes))
            loadFailure_ = QStringLiteral("it is UTF-16 text; save it as UTF-8 or ANSI text");
    }
    if (!loadFailure_.isEmpty()) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2.")
                         .arg(QDir::toNativeSeparators(path_), loadFailure_);
        parse({});
        return false;
    }
    parse(bytes);
    return true;
}

void IniFile::parse(const QByteArray& bytes)
{
    sections_.clear();
    sectionIndex_.clear();
    modified_ = false;
    sections_.push_back(Section{});
    byteOrderMark_ = bytes.startsWith(kUtf8Mark) ? QByteArray(kUtf8Mark) : QByteArray();
    // New lines take the ending most lines of the file have.
    QHash<QByteArray, qsizetype> endings;

    qsizetype pos = byteOrderMark_.size();
    while (pos < bytes.size()) {
        Line line;
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        line.text = bytes.mid(pos, end - pos);
        if (end < bytes.size()) {
            const bool crlf =
                bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
            line.ending = bytes.mid(end, crlf ? 2 : 1);
            ++endings[line.ending];
        }
        pos = end + line.ending.size();

        const QByteArray trimmed = line.text.trimmed();
        if (trimmed.startsWith('[')) {
            qsizetype close = trimmed.indexOf(']');
            const QByteArray name = trimmed.mid(1, close < 0 ? -1 : close - 1);
            Section section;
            section.nameKey = lookupKey(QByteArrayView(name));
            section.lines.push_back(std::move(line));
            // A repeated section header: reads keep going to the first one.
            if (!sectionIndex_.contains(section.nameKey))
                sectionIndex_.insert(section.nameKey, sections_.size());
            sections_.push_back(std::move(section));
            continue;
        }
        Section& current = sections_.back();
        const qsizetype eq = line.text.indexOf('=');
        if (eq > 0 && !trimmed.startsWith(';') && sections_.size() > 1) {
            const QByteArray key = lookupKey(QByteArrayView(line.text).first(eq));
            // A write replaces the value and keeps the blanks that lead up to it.
            qsizetype start = eq + 1;
            while (start < line.text.size() &&
                   (line.text[start] == ' ' || line.text[start] == '\t'))
                ++start;
            line.valueStart = start;
            if (!key.isEmpty() && !current.keys.contains(key))
                current.keys.insert(key, current.lines.size());
        }
        current.lines.push_back(std::move(line));
    }
    newLineEnding_ = QByteArrayLiteral("\r\n");
    for (auto it = endings.cbegin(); it != endings.cend(); ++it) {
        if (it.value() > endings.value(newLineEnding_))
            newLineEnding_ = it.key();
    }
}

IniFile::Section* IniFile::findSection(const QString& section)
{
    auto it = sectionIndex_.constFind(lookupKey(section));
    return it == sectionIndex_.cend() ? nullptr : &sections_[*it];
}

const IniFile::Section* IniFile::findSection(const QString& section) const
{
    auto it = sectionIndex_.constFind(lookupKey(section));
    return it == sectionIndex_.cend() ? nullptr : &sections_[*it];
}

const IniFile::Line* IniFile::findLine(const QString& section, const QString& key) const
{
    const Section* s = findSection(section);
    if (!s)
        return nullptr;
    auto it = s->keys.constFind(lookupKey(key));
    return it == s->keys.cend() ? nullptr : &s->lines[*it];
}

QString IniFile::read(const QString& section, const QString& key, const QString& fallback) const
{
    const Line* line = findLine(section, key);
    if (!line)
        return fallback.left(kMaxValueLength);
    return decodeValue(QByteArrayView(line->text).sliced(line->valueStart));
}

bool IniFile::contains(const QString& section, const QString& key) const
{
    return findLine(section, key) != nullptr;
}

bool IniFile::hasSection(const QString& section) const
{
    return findSection(section) != nullptr;
}

QByteArray IniFile::newLineEnding() const
{
    return newLineEnding_;
}

void IniFile::write(const QString& section, const QString& key, const QString& value)
{
    const QByteArray encoded = value.toUtf8();
    Section* s = findSection(section);
    if (!s) {
        // A file whose last line has no ending gets one before the new section.
        for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
            if (!it->lines.empty()) {
                if (it->lines.back().ending.isEmpty())
                    it->lines.back().ending = newLineEnding();
                break;
            }
        }
        Section added;
        added.nameKey = lookupKey(section);
        added.lines.push_back(Line{'[' + section.toUtf8() + ']', newLineEnding(), -1});
        sectionIndex_.insert(added.nameKey, sections_.size());
        sections_.push_back(std::move(added));
        s = &sections_.back();
    }
    const QByteArray k = lookupKey(key);
    auto it = s->keys.constFind(k);
    if (it != s->keys.cend()) {
        Line& line = s->lines[*it];
        const QByteArray old = line.text.mid(line.valueStart);
        if (old == encoded)
            return;
        line.text.truncate(line.valueStart);
        line.text.append(encoded);
        modified_ = true;
        return;
    }
    // A new key goes after the last non-blank line of its section, before any blank lines
    // that separate it from the next section.
    std::size_t at = s->lines.size();
    while (at > 1 && s->lines[at - 1].text.trimmed().isEmpty())
        --at;
    if (at > 0 && s->lines[at - 1].ending.isEmpty())
        s->lines[at - 1].ending = newLineEnding();
    Line line{key.toUtf8() + '=' + encoded, newLineEnding(), key.toUtf8().size() + 1};
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    if (at != s->lines.size() - 1) {
        for (auto& index : s->keys) {
            if (index >= at)
                ++index;
        }
    }
    s->keys.insert(k, at);
    modified_ = true;
}

QByteArray IniFile::content() const
{
    QByteArray out = byteOrderMark_;
    for (const Section& s : sections_) {
        for (const Line& line : s.lines) {
            out.append(line.text);
            out.append(line.ending);
        }
    }
    return out;
}

bool IniFile::save(QString* error)
{
    if (!modified_)
        return true;
    if (!writeFileAtomically(path_, content(), error))
        return false;
    modified_ = false;
    return true;
}

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& fallback)
{
    IniFile ini(file);
    ini.load();
    return ini.read(section, key, fallback);
}

bool WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value, QString* error)
{
    IniFile ini(file);
    if (!ini.load(error))
        return false;
    ini.write(section, key, value);
    return ini.save(error);
}
