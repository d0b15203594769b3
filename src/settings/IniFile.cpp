#include "settings/IniFile.h"

#include "common/AtomicFile.h"

#include <QDir>
#include <QFile>

namespace {

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
    QFile file(path_);
    if (!file.exists()) {
        parse({});
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2")
                         .arg(QDir::toNativeSeparators(path_), file.errorString());
        parse({});
        return false;
    }
    parse(file.readAll());
    return true;
}

void IniFile::parse(const QByteArray& bytes)
{
    sections_.clear();
    sectionIndex_.clear();
    modified_ = false;
    sections_.push_back(Section{});
    qsizetype crlfCount = 0;
    qsizetype lfCount = 0;

    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', pos);
        Line line;
        if (nl < 0) {
            line.text = bytes.mid(pos);
            pos = bytes.size();
        } else {
            qsizetype end = nl;
            if (end > pos && bytes[end - 1] == '\r') {
                --end;
                line.ending = QByteArrayLiteral("\r\n");
                ++crlfCount;
            } else {
                line.ending = QByteArrayLiteral("\n");
                ++lfCount;
            }
            line.text = bytes.mid(pos, end - pos);
            pos = nl + 1;
        }

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
    crlf_ = crlfCount >= lfCount;
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

QByteArray IniFile::newLineEnding() const
{
    return crlf_ ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
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
    QByteArray out;
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
