#pragma once
// An observability hook for end-to-end tests: with ERP_HOST_PROBE=<file> in the environment,
// the host rewrites <file> (atomically, only when it changed) with a JSON picture of its
// visible windows: titles, the focused control, edit texts, check boxes, labels, pages and
// where each tab lies, grids with the rows in sight and where each lies, where each button,
// edit and popup item lies, and which controls are disabled.
class QObject;

namespace host {

void startProbeFromEnvironment(QObject* parent);

} // namespace host
