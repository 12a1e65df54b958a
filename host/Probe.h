#pragma once
// An observability hook for end-to-end tests: with ERP_HOST_PROBE=<file> in the environment,
// the host rewrites <file> (atomically, only when it changed) with a JSON picture of its
// visible windows: titles, the focused control, edit texts, check boxes, pages and grids.
class QObject;

namespace host {

void startProbeFromEnvironment(QObject* parent);

} // namespace host
