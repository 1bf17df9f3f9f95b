#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the event loop, so that the application then ends
// as when its window is closed: every office it started is ended and its private files
// are removed, instead of being left behind by a process that died on the spot.
void EndEventLoopOnTerminationSignals();

// Makes a write into a pipe whose reader has gone fail with EPIPE instead of ending the
// process with SIGPIPE. The office bridge writes into the pipes of offices that may have
// just ended; such a write must be an error that a step reports, not the end of the program.
void IgnoreBrokenPipes();
