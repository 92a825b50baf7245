#pragma once

#include <QString>
#include <QStringList>

// The start-up guide, one element per log line; an empty element is an empty line.
QStringList startupGuide();

QString usageText();

QString aboutText(const QString &version);

// Title of the usage and about boxes.
QString helpBoxTitle();
