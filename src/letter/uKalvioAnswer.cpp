#include "uKalvioAnswer.h"

#include <cstring>
#include <pugixml.hpp>
#include <stdexcept>

#include "uErrors.h"
#include "uStrings.h"

namespace {

// A reading step that cannot go on; its message becomes the answer's error text.
struct TReadFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Node names as a DOM reader gives them: text nodes are "#text".
std::string NodeName(const pugi::xml_node& Node) {
  switch (Node.type()) {
    case pugi::node_element:
      return Node.name();
    case pugi::node_pcdata:
      return "#text";
    case pugi::node_cdata:
      return "#cdata-section";
    case pugi::node_comment:
      return "#comment";
    default:
      return Node.name();
  }
}

// Answers are meant to be UTF-8; one that is not is read as the Czech Windows code page
// rather than passing broken text on to the console and the logs.
std::string AsUtf8(std::string Text) { return IsValidUtf8(Text) ? Text : Cp1250ToUtf8(Text); }

void AppendText(const pugi::xml_node& Node, std::string& Out) {
  if (Node.type() == pugi::node_pcdata || Node.type() == pugi::node_cdata) {
    Out += Node.value();
    return;
  }
  for (pugi::xml_node c = Node.first_child(); c; c = c.next_sibling()) AppendText(c, Out);
}

// All character data below a node (or the node's own, for a text node), concatenated.
std::string TextOf(const pugi::xml_node& Node) {
  std::string s;
  AppendText(Node, s);
  return AsUtf8(std::move(s));
}

// The first element of that name among the descendants of Root, in document order.
pugi::xml_node FirstElement(const pugi::xml_node& Root, const char* Name) {
  pugi::xml_node n = Root.find_node([Name](const pugi::xml_node& x) {
    return x.type() == pugi::node_element && std::strcmp(x.name(), Name) == 0;
  });
  if (!n) throw TReadFailure(Format("Element '%s' not found", Name));
  return n;
}

std::string AttributeOf(const pugi::xml_node& Node, const char* Name) {
  pugi::xml_attribute a = Node.attribute(Name);
  if (!a) throw TReadFailure(Format("Attribute '%s' of node '%s' not found", Name, NodeName(Node)));
  return AsUtf8(a.value());
}

// A signed 32-bit decimal number; anything else raises the usual conversion error.
int32_t ToInt32(const std::string& Text) { return static_cast<int32_t>(StrToInt(Text)); }

pugi::xml_node ChildAt(const pugi::xml_node& Node, int Index) {
  int i = 0;
  for (pugi::xml_node c = Node.first_child(); c; c = c.next_sibling(), ++i)
    if (i == Index) return c;
  throw TReadFailure(Format("Node '%s' has no child node %d", NodeName(Node), Index));
}

}  // namespace

bool ParseKalvioAnswer(std::string_view Body, TKalvioAnswer& Answer) {
  try {
    pugi::xml_document doc;
    // White-space-only text nodes, comments and processing instructions stay children, so
    // child positions are those of the document.
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_comments | pugi::parse_pi;
    pugi::xml_parse_result r = doc.load_buffer(Body.data(), Body.size(), options);
    if (!r) throw TReadFailure(r.description());
    pugi::xml_node root = doc.document_element();

    pugi::xml_node chyby = FirstElement(root, "chyby");
    if (AttributeOf(chyby, "stav") == "0") {
      Answer.KodObj = TextOf(FirstElement(root, "kod_objednavky"));
      Answer.KodRR = TextOf(FirstElement(root, "podaci_cislo"));
      return true;
    }
    for (pugi::xml_node child = chyby.first_child(); child; child = child.next_sibling()) {
      if (NodeName(child) == "#text") continue;
      if (AttributeOf(child, "stav") != "1") continue;
      for (pugi::xml_node e = child.first_child(); e; e = e.next_sibling()) {
        if (NodeName(e) != "chyba") continue;
        Answer.ErrorItem = Trim(TextOf(ChildAt(e, 1)));
        Answer.CodeError = ToInt32(AttributeOf(e, "kod"));
        Answer.KodObj = TextOf(FirstElement(root, "kod_objednavky"));
        break;
      }
    }
    return false;
  } catch (const std::exception& e) {
    Answer.ErrorItem = e.what();
    return false;
  }
}
