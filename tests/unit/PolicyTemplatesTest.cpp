// The administrative templates (data/policy) against the table of policy names the programs
// read: well-formed, each policy naming a key and value of the table as the table says, each
// name of the table described, and every text and presentation they refer to there.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "helper_contract/PolicyNames.h"

namespace {

using contract::TPolicyType;

class Template {
  public:
    explicit Template(const std::string& path)
        : doc_(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS))
    {
        if (!doc_) return;
        context_ = xmlXPathNewContext(doc_);
        xmlXPathRegisterNs(context_, BAD_CAST "p",
                           BAD_CAST "http://schemas.microsoft.com/GroupPolicy/2006/07/"
                                    "PolicyDefinitions");
    }
    ~Template()
    {
        if (context_) xmlXPathFreeContext(context_);
        if (doc_) xmlFreeDoc(doc_);
    }
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;
    explicit operator bool() const { return doc_ != nullptr; }

    // The nodes a path selects, from a node or from the root.
    std::vector<xmlNode*> Nodes(const char* path, xmlNode* from = nullptr) const
    {
        context_->node = from ? from : xmlDocGetRootElement(doc_);
        xmlXPathObject* found = xmlXPathEvalExpression(BAD_CAST path, context_);
        std::vector<xmlNode*> nodes;
        if (found && found->nodesetval)
            nodes.assign(found->nodesetval->nodeTab,
                         found->nodesetval->nodeTab + found->nodesetval->nodeNr);
        xmlXPathFreeObject(found);
        return nodes;
    }
    // The text of each node found (an attribute's value), in document order.
    std::vector<std::string> Texts(const char* path, xmlNode* from = nullptr) const
    {
        std::vector<std::string> texts;
        for (xmlNode* node : Nodes(path, from)) {
            xmlChar* text = xmlNodeGetContent(node);
            texts.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
            xmlFree(text);
        }
        return texts;
    }
    std::string Text(const char* path, xmlNode* from) const
    {
        std::vector<std::string> texts = Texts(path, from);
        return texts.size() == 1 ? texts[0] : "(" + std::to_string(texts.size()) + " found)";
    }

  private:
    xmlDoc* doc_;
    xmlXPathContext* context_ = nullptr;
};

// One line a policy: what the Group Policy editor writes for it, and under which class and
// category it shows it.
std::string Described(const Template& admx, xmlNode* policy)
{
    std::string where =
        admx.Text("@class", policy) + " " + admx.Text("p:parentCategory/@ref", policy);
    if (!admx.Nodes("p:elements/p:list", policy).empty())
        return where + " list " + admx.Text("p:elements/p:list/@key", policy);
    if (!admx.Nodes("p:elements/p:decimal", policy).empty())
        return where + " number " + admx.Text("p:elements/p:decimal/@key", policy) + " " +
               admx.Text("p:elements/p:decimal/@valueName", policy) + " " +
               admx.Text("p:elements/p:decimal/@minValue", policy) + ".." +
               admx.Text("p:elements/p:decimal/@maxValue", policy);
    return where + " switch " + admx.Text("@key", policy) + " " + admx.Text("@valueName", policy) +
           " " + admx.Text("p:enabledValue/p:decimal/@value", policy) + "/" +
           admx.Text("p:disabledValue/p:decimal/@value", policy);
}

std::string Expected(const contract::TPolicyName& policy)
{
    const std::string key = contract::kPolicyKey, name(policy.name);
    switch (policy.type) {
    case TPolicyType::RuleList:
        return "Both Quellor list " + key + "\\" + name;
    case TPolicyType::Number:
        return "Both Quellor number " + key + " " + name + " " + std::to_string(policy.minimum) +
               ".." + std::to_string(policy.maximum);
    case TPolicyType::Switch:
        break;
    }
    return "Both Quellor switch " + key + " " + name + " 1/0";
}

} // namespace

TEST(PolicyTemplates, DescribeExactlyThePoliciesTheProgramsRead)
{
    Template admx(QUELLOR_POLICY_DIR "Quellor.admx"), adml(QUELLOR_POLICY_DIR "en-US/Quellor.adml");
    ASSERT_TRUE(admx) << "Quellor.admx is not well-formed XML";
    ASSERT_TRUE(adml) << "Quellor.adml is not well-formed XML";

    std::map<std::string, std::string> described, read;
    for (xmlNode* policy : admx.Nodes("/p:policyDefinitions/p:policies/p:policy"))
        described[admx.Text("@name", policy)] = Described(admx, policy);
    for (const contract::TPolicyName& policy : contract::kPolicyNames)
        read[std::string(policy.name)] = Expected(policy);
    EXPECT_EQ(described, read);
    EXPECT_EQ(admx.Texts("//p:category/@name"), std::vector<std::string>{"Quellor"});

    // Every text the templates refer to is in the language file, and each presentation
    // shows exactly the elements of its policy.
    std::set<std::string> strings;
    for (const std::string& id : adml.Texts("//p:stringTable/p:string/@id"))
        EXPECT_TRUE(strings.insert(id).second) << id << " twice";
    for (const std::string& ref : admx.Texts("//@*[starts-with(., '$(string.')]"))
        EXPECT_EQ(strings.count(ref.substr(9, ref.size() - 10)), 1u) << ref;
    for (xmlNode* policy : admx.Nodes("//p:policy")) {
        std::vector<std::string> ids = admx.Texts("p:elements/*/@id", policy), shown;
        if (!ids.empty()) {
            std::string ref = admx.Text("@presentation", policy);
            ASSERT_EQ(ref.rfind("$(presentation.", 0), 0u) << admx.Text("@name", policy);
            std::string path =
                "//p:presentation[@id='" + ref.substr(15, ref.size() - 16) + "']/*/@refId";
            shown = adml.Texts(path.c_str());
        }
        EXPECT_EQ(shown, ids) << admx.Text("@name", policy);
        EXPECT_EQ(admx.Texts("@explainText", policy).size(), 1u) << "a help text each";
    }
}
