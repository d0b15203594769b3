#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// The station folder holds ACL3.INI, the current test program and the TestLog folder of the run
// logs. It is the option --station DIR of each program, else the environment variable
// ACL3_STATION, else ~/ACL3.
QString resolveStationFolder(const QString& option);

// Adds --station DIR to a program's command line.
void addStationOption(QCommandLineParser& parser);
QString stationFolderFrom(const QCommandLineParser& parser);

// Makes a station folder usable. A folder that does not exist yet is created with TestLog/, a
// default ACL3.INI and an example test program. An existing folder only gets its TestLog/ when
// missing; everything else in it stays as it is. False with a message when the folder cannot be
// created or written.
bool prepareStationFolder(const QString& dir, QString* error);

// The content of the default ACL3.INI and of the example program.
QByteArray defaultSettingsFile();
QByteArray exampleTestProgram();
