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

    // The largest file a profile is read from: a settings file or a test program is far smaller.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    // Reads the file; a missing file is an empty profile. False (with a message) when the file
    // exists and cannot be read, is no regular file (a device, a pipe, a folder), is larger than
    // kMaxFileSize, or is UTF-16 text, whose keys cannot be rewritten in place. A leading UTF-8
    // byte-order mark is skipped (and written back); lines end with CR LF, LF or CR alone.
    bool load(QString* error = nullptr);
    // Why the last load failed, without the file's name; empty after a load that succeeded.
    const QString& loadFailure() const { return loadFailure_; }
    // Writes the profile back atomically (see writeFileAtomically). Nothing is written when
    // nothing changed since the load.
    bool save(QString* error = nullptr);

    const QString& path() const { return path_; }
    bool isModified() const { return modified_; }

    // The value of the key, or `fallback` when the section or key is missing.
    QString read(const QString& section, const QString& key, const QString& fallback) const;
    bool contains(const QString& section, const QString& key) const;
    bool hasSection(const QString& section) const;
    // Replaces the key's value in place, or adds the key at the end of its section, or adds the
    // section at the end of the file.
    void write(const QString& section, const QString& key, const QString& value);

    QByteArray content() const;

private:
    struct Line
    {
        QByteArray text;           // without the line ending
        QByteArray ending;         // "\r\n", "\n", "\r" or "" (last line without one)
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
    QString loadFailure_;
    QByteArray byteOrderMark_;
    QByteArray newLineEnding_ = QByteArrayLiteral("\r\n");
    bool modified_ = false;
};

// One read from a file, as the profile service does it: the value or the default.
QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& fallback);
// One write to a file: replaces one key's value and writes the file back atomically.
bool WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value, QString* error = nullptr);
