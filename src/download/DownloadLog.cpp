#include "download/DownloadLog.h"

Q_LOGGING_CATEGORY(lcDownload, "orvane.download", QtInfoMsg)
