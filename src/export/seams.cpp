#include "seams.h"

LogSink::~LogSink() = default;

NoticeSink::~NoticeSink() = default;
