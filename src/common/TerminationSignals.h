#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the event loop, so that the application then ends
// as when its window is closed: every office it started is ended and its private files
// are removed, instead of being left behind by a process that died on the spot.
void EndEventLoopOnTerminationSignals();
