#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

// An INI profile held in memory: read once, served to any number of reads, edited key by key,
// and written back in one atomic replace. Section and key names match without regard to letter
// case; a value read is cut at 254 characters; a write changes only the value of one key (or
// adds the key, or the section), and every other byte of the file stays as it was: order,
// comments, blank lines, line endings, other keys and sections.
class IniFile
{
public:
    // The longest value a read returns (the profile service's 255-byte buffer).
    static constexpr int kMaxValueLength = 254;

    IniFile() = default;
    explicit IniFile(QString path);

    // Reads the file; a missing file is an empty profile. False (with a message) only when the
    // file exists and cannot be read.
    bool load(QString* error = nullptr);
    // Writes the profile back atomically (see writeFileAtomically). Nothing is written when
    // nothing changed since the load.
    bool save(QString* error = nullptr);

    const QString& path() const { return path_; }
    bool isModified() const { return modified_; }

    // The value of the key, or `fallback` when the section or key is missing.
    QString read(const QString& section, const QString& key, const QString& fallback) const;
    bool contains(const QString& section, const QString& key) const;
    // Replaces the key's value in place, or adds the key at the end of its section, or adds the
    // section at the end of the file.
    void write(const QString& section, const QString& key, const QString& value);

    QByteArray content() const;

private:
    struct Line
    {
        QByteArray text;           // without the line ending
        QByteArray ending;         // "\r\n", "\n" or "" (last line without one)
        qsizetype valueStart = -1; // key lines: where the value text begins (after "=")
    };
    struct Section
    {
        QByteArray nameKey;      // lower-cased name, for lookups
        std::vector<Line> lines; // the header line first (none for the part before any section)
        QHash<QByteArray, std::size_t> keys; // lower-cased key -> line index (first wins)
    };

    void parse(const QByteArray& bytes);
    Section* findSection(const QString& section);
    const Section* findSection(const QString& section) const;
    const Line* findLine(const QString& section, const QString& key) const;
    QByteArray newLineEnding() const;

    QString path_;
    std::vector<Section> sections_; // sections_[0] holds the lines before the first header
    QHash<QByteArray, std::size_t> sectionIndex_;
    bool modified_ = false;
    bool crlf_ = true;
};

// One read from a file, as the profile service does it: the value or the default.
QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& fallback);
// One write to a file: replaces one key's value and writes the file back atomically.
bool WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value, QString* error = nullptr);
