// pelradio's built-in configuration: the station's addresses (set at build time) and its fixed texts.
#pragma once

// A packager sets the hosts with cmake -DPELRADIO_STREAM_HOST=... -DPELRADIO_SITE_URL=...
// -DPELRADIO_MAKER_URL=...; the defaults point at the bundled station on loopback.
#ifndef PELRADIO_STREAM_HOST
#error PELRADIO_STREAM_HOST must be defined by the build
#endif

#define STREAM_HOST PELRADIO_STREAM_HOST
#define STREAM_PORT 11000
#define STREAM_URL L"http://" PELRADIO_STREAM_HOST L":11000"
#define SITE_URL L"" PELRADIO_SITE_URL
#define TITLE_PAGE_URL SITE_URL L"/gasaview.html"
#define REQUEST_PAGE_URL SITE_URL L"/zboard/zboard.php?id=Request"
#define HOME_PAGE_URL SITE_URL L"/"
#define MAKER_URL L"" PELRADIO_MAKER_URL

#define TRAY_TIP "Pellora"
#define WINDOW_CAPTION "Pellora Player v2"
#define STARTUP_VOLUME 100
#define TICK_INTERVAL 500
#define TITLE_INTERVAL 10000

// The title page marks the song now playing with this text and ends it with the end mark.
#define TITLE_MARKER L"재생중인 노래명&nbsp;:&nbsp;"
#define TITLE_END_MARK L"</td>"
