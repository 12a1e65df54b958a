#pragma once
// Reading the standard's XML with libxml2, as the signer, the authority client and the
// stand-in all do: parsing without network access, finding elements by local name,
// their text, and an element's exact serialisation.
#include <QByteArray>
#include <QList>
#include <QString>
#include <libxml/tree.h>
#include <memory>

namespace nfe::xml {

using DocPtr = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// No network, blank text between elements dropped, libxml's own messages kept quiet;
// large: without libxml's size limits (the authority's answers), else with them.
DocPtr parse(const QByteArray& xml, bool large = false);

// An element of that local name.
bool named(xmlNodePtr node, const char* name);
// The first child element of that name, or nullptr.
xmlNodePtr firstChild(xmlNodePtr parent, const char* name);
QList<xmlNodePtr> children(xmlNodePtr parent, const char* name);
// The first element of that name among first, its siblings and their descendants, in
// document order; with ns, only an element in that namespace.
xmlNodePtr find(xmlNodePtr first, const char* name, const char* ns = nullptr);
// The content of the first child of that name, as it stands; empty when there is none.
QString childText(xmlNodePtr parent, const char* name);
// The node as its document writes it: no declaration, no indentation.
QByteArray dump(xmlNodePtr node);
// The elements named name (not nesting in one another), as their exact bytes in the text,
// in document order: what was signed or received is kept as it came.
QList<QByteArray> rawElements(const QByteArray& text, const QByteArray& name);

} // namespace nfe::xml
