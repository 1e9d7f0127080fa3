#!/usr/bin/env python3
"""Checks the frame's XDR schema set against the XML test data.

- Every schema in frame/schemas is a consistent XDR schema: known schema attributes and data types,
  every referenced element and attribute type declared (also across x-schema namespaces), no open
  model on empty or text-only elements, no open model with order "one".
- Every document in tests/data/xml/valid (and every FDT document in tests/data/xml/docs) validates:
  each element and attribute in an x-schema namespace is declared, required attributes are present,
  values fit their data types, and children follow the content model.
- Every document in tests/data/xml/invalid fails, with an error that names what expected.tsv says.
- Every row of tests/data/xml/xpaths.tsv names an existing document; when xmllint is installed the
  expected count and text of each path are recomputed on a copy of the document whose prefixed
  names are renamed to plain names, which is how the DOM's selection matches names as written.

This is a check of the test data, kept independent of the C++ validator; it implements the part of
XDR that the schema set uses, not all of it. Exit status 0 when everything holds, 1 otherwise.
"""

import argparse
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

XDR = 'urn:schemas-microsoft-com:xml-data'
DT = 'urn:schemas-microsoft-com:datatypes'
XSCHEMA = 'x-schema:'

# Sample documents that the system parses without a schema cache, so their x-schema names are plain
# namespaces there (the fragment wrapper carries the fragment's namespace as its default one).
UNVALIDATED_DOCS = {'fragment.xml'}

DATA_TYPES = {
    'string', 'number', 'int', 'float', 'fixed.14.4', 'boolean', 'date', 'dateTime', 'dateTime.tz',
    'time', 'time.tz', 'i1', 'i2', 'i4', 'i8', 'ui1', 'ui2', 'ui4', 'ui8', 'r4', 'r8', 'uuid', 'char',
    'bin.hex', 'bin.base64', 'id', 'idref', 'idrefs', 'nmtoken', 'nmtokens', 'enumeration', 'entity',
    'entities', 'notation', 'uri',
}
INT_RANGES = {
    'i1': (-2**7, 2**7 - 1), 'i2': (-2**15, 2**15 - 1), 'i4': (-2**31, 2**31 - 1),
    'i8': (-2**63, 2**63 - 1), 'ui1': (0, 2**8 - 1), 'ui2': (0, 2**16 - 1), 'ui4': (0, 2**32 - 1),
    'ui8': (0, 2**64 - 1), 'int': (-2**31, 2**31 - 1),
}
NUMBER_RE = re.compile(r'^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$')
FIXED_RE = re.compile(r'^[+-]?\d{1,14}(\.\d{1,4})?$')
DATE_RE = re.compile(r'^(\d{4})-(\d{2})-(\d{2})$')
DATETIME_RE = re.compile(r'^(\d{4})-(\d{2})-(\d{2})(T(\d{2}):(\d{2})(:(\d{2})(\.\d{1,9})?)?)?$')
TIME_RE = re.compile(r'^(\d{2}):(\d{2})(:(\d{2})(\.\d{1,9})?)?$')
NAME_RE = re.compile(r'^[A-Za-z_][\w.\-]*$')
NMTOKEN_RE = re.compile(r'^[\w.\-:]+$')


class SchemaError(Exception):
    pass


def split(tag):
    """'{uri}local' -> (uri, local); 'local' -> ('', local)."""
    if tag.startswith('{'):
        uri, local = tag[1:].split('}', 1)
        return uri, local
    return '', tag


def parse_with_prefixes(path):
    """Parses a file; returns the root and the prefix bindings declared anywhere in it."""
    prefixes = {}
    root = None
    for event, item in ET.iterparse(path, events=('start-ns', 'start')):
        if event == 'start-ns':
            prefix, uri = item
            prefixes.setdefault(prefix, uri)
        elif root is None:
            root = item
    # iterparse has built the whole tree by now
    return root, prefixes


def check_value(dtype, values, text):
    """None when text fits the data type, else a short reason."""
    if dtype in (None, 'string', 'entity', 'entities', 'notation', 'uri'):
        return None
    if dtype == 'enumeration':
        return None if text in values else 'not one of %s' % ' '.join(values)
    if dtype in INT_RANGES:
        if not re.fullmatch(r'[+-]?\d+', text):
            return 'not an integer'
        lo, hi = INT_RANGES[dtype]
        return None if lo <= int(text) <= hi else 'out of range for %s' % dtype
    if dtype in ('number', 'float', 'r4', 'r8'):
        return None if NUMBER_RE.match(text) else 'not a number'
    if dtype == 'fixed.14.4':
        return None if FIXED_RE.match(text) else 'not a fixed.14.4 number'
    if dtype == 'boolean':
        return None if text in ('0', '1') else 'not a boolean (0 or 1)'
    if dtype == 'date':
        m = DATE_RE.match(text)
        if not m:
            return 'not a date'
        try:
            datetime.date(int(m.group(1)), int(m.group(2)), int(m.group(3)))
        except ValueError:
            return 'not a valid date'
        return None
    if dtype in ('dateTime', 'dateTime.tz'):
        value = text
        if dtype == 'dateTime.tz':
            value = re.sub(r'(Z|[+-]\d{2}:\d{2})$', '', text)
        m = DATETIME_RE.match(value)
        if not m:
            return 'not a dateTime'
        try:
            datetime.datetime(int(m.group(1)), int(m.group(2)), int(m.group(3)),
                              int(m.group(5) or 0), int(m.group(6) or 0), int(m.group(8) or 0))
        except ValueError:
            return 'not a valid dateTime'
        return None
    if dtype in ('time', 'time.tz'):
        value = re.sub(r'(Z|[+-]\d{2}:\d{2})$', '', text) if dtype == 'time.tz' else text
        m = TIME_RE.match(value)
        if not m or int(m.group(1)) > 23 or int(m.group(2)) > 59 or int(m.group(4) or 0) > 59:
            return 'not a time'
        return None
    if dtype == 'uuid':
        digits = text.replace('-', '')
        return None if re.fullmatch(r'[0-9A-Fa-f]{32}', digits) else 'not a uuid'
    if dtype == 'char':
        return None if len(text) == 1 else 'not one character'
    if dtype == 'bin.hex':
        return None if re.fullmatch(r'([0-9A-Fa-f]{2})*', text) else 'not hex bytes'
    if dtype == 'bin.base64':
        return None if re.fullmatch(r'[A-Za-z0-9+/=\s]*', text) else 'not base64'
    if dtype in ('id', 'idref'):
        return None if NAME_RE.match(text) else 'not a name'
    if dtype == 'idrefs':
        return None if all(NAME_RE.match(t) for t in text.split()) else 'not a list of names'
    if dtype == 'nmtoken':
        return None if NMTOKEN_RE.match(text) else 'not a name token'
    if dtype == 'nmtokens':
        return None if all(NMTOKEN_RE.match(t) for t in text.split()) else 'not name tokens'
    return 'unknown data type %s' % dtype


class AttrType:
    def __init__(self, name, dtype, values, required, default):
        self.name, self.dtype, self.values = name, dtype, values
        self.required, self.default = required, default


class ElemType:
    def __init__(self, name):
        self.name = name
        self.content = 'mixed'
        self.model = 'open'
        self.order = None
        self.dtype = None
        self.local_attrs = {}      # name -> AttrType
        self.attr_refs = []        # (key, AttrType, required, default); key is a plain name or (uri, name)
        self.model_tree = None     # ('group', order, min, max, children) / ('elem', (uri, name), min, max)


class Schema:
    def __init__(self, path, name, catalog):
        self.path, self.name, self.catalog = path, name, catalog
        self.uri = XSCHEMA + name
        self.global_attrs = {}
        self.elements = {}
        self.prefixes = {}
        self.errors = []

    def err(self, text):
        self.errors.append('%s: %s' % (self.name, text))

    def load(self):
        root, self.prefixes = parse_with_prefixes(self.path)
        if root.tag != '{%s}Schema' % XDR:
            raise SchemaError('%s: root is not an XDR Schema element' % self.name)
        for child in root:
            uri, local = split(child.tag)
            if uri != XDR:
                continue
            if local == 'AttributeType':
                at = self.attr_type(child)
                if at.name in self.global_attrs:
                    self.err('attribute type %s declared twice' % at.name)
                self.global_attrs[at.name] = at
            elif local == 'ElementType':
                name = child.get('name')
                if not name:
                    self.err('ElementType without name')
                    continue
                if name in self.elements:
                    self.err('element type %s declared twice' % name)
                self.elements[name] = ElemType(name)
            elif local != 'description':
                self.err('unexpected %s at schema level' % local)
        self.root = root

    def resolve_prefix(self, qname):
        """'p:name' -> (uri, name) through the schema's own bindings; 'name' -> (None, name)."""
        if ':' in qname:
            prefix, name = qname.split(':', 1)
            uri = self.prefixes.get(prefix)
            if uri is None:
                self.err('prefix %s of %s is not declared' % (prefix, qname))
            return uri, name
        return None, qname

    def attr_type(self, node):
        name = node.get('name')
        if not name:
            self.err('AttributeType without name')
        dtype = node.get('{%s}type' % DT)
        values = (node.get('{%s}values' % DT) or '').split()
        if dtype is not None and dtype not in DATA_TYPES:
            self.err('attribute type %s has unknown dt:type %s' % (name, dtype))
        if dtype == 'enumeration' and not values:
            self.err('enumeration %s has no dt:values' % name)
        required = node.get('required', 'no')
        if required not in ('yes', 'no'):
            self.err('attribute type %s: required must be yes or no' % name)
        default = node.get('default')
        if default is not None and check_value(dtype, values, default):
            self.err('attribute type %s: default %r does not fit its type' % (name, default))
        return AttrType(name, dtype, values, required == 'yes', default)

    def link(self):
        """Second pass: element types' attributes and content models, now that all schemas are loaded."""
        for node in self.root:
            if node.tag == '{%s}ElementType' % XDR and node.get('name') in self.elements:
                self.link_element(node, self.elements[node.get('name')])

    def link_element(self, node, et):
        et.content = node.get('content', 'mixed')
        et.model = node.get('model', 'open')
        et.dtype = node.get('{%s}type' % DT)
        if et.content not in ('empty', 'textOnly', 'eltOnly', 'mixed'):
            self.err('%s: bad content %s' % (et.name, et.content))
        if et.model not in ('open', 'closed'):
            self.err('%s: bad model %s' % (et.name, et.model))
        default_order = 'many' if et.content == 'mixed' else 'seq'
        et.order = node.get('order', default_order)
        if et.order not in ('one', 'seq', 'many'):
            self.err('%s: bad order %s' % (et.name, et.order))
        if et.content in ('empty', 'textOnly') and et.model != 'closed':
            self.err('%s: %s content needs model="closed"' % (et.name, et.content))
        if et.order == 'one' and et.model != 'closed':
            self.err('%s: order="one" needs model="closed"' % et.name)
        if et.content == 'mixed' and et.order != 'many':
            self.err('%s: mixed content needs order="many"' % et.name)
        if et.dtype is not None and et.dtype not in DATA_TYPES:
            self.err('%s: unknown dt:type %s' % (et.name, et.dtype))
        for child in node:
            uri, local = split(child.tag)
            if uri == XDR and local == 'AttributeType':
                at = self.attr_type(child)
                if at.name in et.local_attrs:
                    self.err('%s: attribute type %s declared twice' % (et.name, at.name))
                et.local_attrs[at.name] = at
        referenced = set()
        children = []
        for child in node:
            uri, local = split(child.tag)
            if uri != XDR:
                continue
            if local == 'attribute':
                key, at = self.attr_ref(et, child.get('type', ''))
                if at is None:
                    continue
                if key in referenced:
                    self.err('%s: attribute %s referenced twice' % (et.name, child.get('type')))
                referenced.add(key)
                required = child.get('required')
                if required not in (None, 'yes', 'no'):
                    self.err('%s: required must be yes or no' % et.name)
                required = at.required if required is None else required == 'yes'
                default = child.get('default', at.default)
                if default is not None and check_value(at.dtype, at.values, default):
                    self.err('%s: default %r of %s does not fit its type' % (et.name, default, at.name))
                et.attr_refs.append((key, at, required, default))
            elif local in ('element', 'group'):
                item = self.particle(et, child)
                if item:
                    children.append(item)
            elif local not in ('AttributeType', 'description', 'datatype'):
                self.err('%s: unexpected %s' % (et.name, local))
        for name in et.local_attrs:
            if name not in referenced:
                self.err('%s: local attribute type %s is never referenced' % (et.name, name))
        if children and et.content in ('empty', 'textOnly'):
            self.err('%s: %s content cannot list elements' % (et.name, et.content))
        et.model_tree = ('group', et.order, '1', '1', children)

    def attr_ref(self, et, qname):
        uri, name = self.resolve_prefix(qname)
        if uri is None:
            at = et.local_attrs.get(name) or self.global_attrs.get(name)
            if at is None:
                self.err('%s: attribute %s is not declared' % (et.name, qname))
            return name, at
        target = self.catalog.by_uri(uri)
        if target is None:
            self.err('%s: attribute %s lives in %s, which has no schema file' % (et.name, qname, uri))
            return None, None
        at = target.global_attrs.get(name)
        if at is None:
            self.err('%s: attribute %s is not declared in %s' % (et.name, qname, target.name))
        return (uri, name), at

    def particle(self, et, node):
        local = split(node.tag)[1]
        lo, hi = node.get('minOccurs', '1'), node.get('maxOccurs', '1')
        if lo not in ('0', '1') or hi not in ('1', '*'):
            self.err('%s: minOccurs/maxOccurs must be 0|1 and 1|*' % et.name)
        if local == 'element':
            uri, name = self.resolve_prefix(node.get('type', ''))
            uri = uri or self.uri
            target = self.catalog.by_uri(uri)
            if target is None or name not in target.elements:
                self.err('%s: element type %s is not declared' % (et.name, node.get('type')))
                return None
            return ('elem', (uri, name), lo, hi)
        order = node.get('order', 'seq')
        if order == 'one' and et.model != 'closed':
            self.err('%s: a group with order="one" needs model="closed"' % et.name)
        items = [p for p in (self.particle(et, c) for c in node if split(c.tag) in
                             ((XDR, 'element'), (XDR, 'group'))) if p]
        return ('group', order, lo, hi, items)


class Catalog:
    """The schema directory: NAME.xml holds the schema of namespace x-schema:NAME.xml."""

    def __init__(self, directory):
        self.directory = directory
        self.schemas = {}
        self.errors = []
        for name in sorted(os.listdir(directory)):
            if name.endswith('.xml'):
                schema = Schema(os.path.join(directory, name), name, self)
                try:
                    schema.load()
                except (ET.ParseError, SchemaError) as e:
                    self.errors.append('%s: %s' % (name, e))
                    continue
                self.schemas[schema.uri] = schema
        for schema in self.schemas.values():
            schema.link()
            self.errors.extend(schema.errors)

    def by_uri(self, uri):
        return self.schemas.get(uri)


def model_regex(tree, codes):
    """Content model -> regular expression over one code character per element name."""
    kind = tree[0]
    if kind == 'elem':
        body = re.escape(codes.setdefault(tree[1], chr(0x4E00 + len(codes))))
        lo, hi = tree[2], tree[3]
    else:
        order, lo, hi, items = tree[1], tree[2], tree[3], tree[4]
        parts = [model_regex(item, codes) for item in items]
        if order == 'seq':
            body = '(?:%s)' % ''.join(parts)
        elif order == 'one':
            body = '(?:%s)' % '|'.join(parts) if parts else '(?:)'
        else:
            # many: each listed element may appear in any order and any number
            return '(?:%s)*' % '|'.join(parts) if parts else ''
    suffix = {('1', '1'): '', ('0', '1'): '?', ('1', '*'): '+', ('0', '*'): '*'}[(lo, hi)]
    return body + suffix


def model_names(tree):
    if tree[0] == 'elem':
        return {tree[1]}
    names = set()
    for item in tree[4]:
        names |= model_names(item)
    return names


class Validator:
    def __init__(self, catalog):
        self.catalog = catalog
        self.used_elements = set()
        self.used_attrs = set()

    def validate(self, path):
        """Returns the list of validation errors of a document (empty: valid)."""
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError as e:
            return ['not well-formed: %s' % e]
        errors = []
        self.element(root, errors)
        return errors

    def schema_for(self, uri, errors, what):
        if not uri.startswith(XSCHEMA):
            return None
        schema = self.catalog.by_uri(uri)
        if schema is None:
            errors.append('%s: schema %s is not in the schema directory' % (what, uri[len(XSCHEMA):]))
        return schema

    def element(self, node, errors):
        uri, local = split(node.tag)
        schema = self.schema_for(uri, errors, local)
        et = None
        if schema is not None:
            et = schema.elements.get(local)
            if et is None:
                errors.append('element %s is not declared in %s' % (local, schema.name))
            else:
                self.used_elements.add((uri, local))
                self.check_element(node, et, schema, errors)
        for name, value in node.attrib.items():
            auri, alocal = split(name)
            if auri and (et is None or not any(k == (auri, alocal) for k, _, _, _ in et.attr_refs)):
                ascheme = self.schema_for(auri, errors, alocal)
                if ascheme is None:
                    continue
                at = ascheme.global_attrs.get(alocal)
                if at is None:
                    errors.append('attribute %s of %s is not declared in %s' % (alocal, local, ascheme.name))
                    continue
                if et is not None and et.model == 'closed':
                    errors.append('attribute %s is not allowed on %s (closed model)' % (alocal, local))
                self.used_attrs.add((auri, alocal))
                reason = check_value(at.dtype, at.values, value)
                if reason:
                    errors.append('attribute %s of %s: %r %s' % (alocal, local, value, reason))
        for child in node:
            self.element(child, errors)

    def check_element(self, node, et, schema, errors):
        name = et.name
        refs = {}
        for key, at, required, default in et.attr_refs:
            refs[key] = (at, required, default)
        for attr, value in node.attrib.items():
            auri, alocal = split(attr)
            key = (auri, alocal) if auri else alocal
            if key not in refs:
                if not auri and et.model == 'closed':
                    errors.append('attribute %s is not allowed on %s (closed model)' % (alocal, name))
                continue
            at, _, default = refs[key]
            self.used_attrs.add((schema.uri, name, alocal) if not auri else (auri, alocal))
            reason = check_value(at.dtype, at.values, value)
            if reason:
                errors.append('attribute %s of %s: %r %s' % (alocal, name, value, reason))
            elif default is not None and refs[key][1] and value != default:
                errors.append('attribute %s of %s must be %r' % (alocal, name, default))
        for key, (at, required, _) in refs.items():
            attr = key if isinstance(key, str) else '{%s}%s' % key
            if required and attr not in node.attrib:
                errors.append('required attribute %s missing on %s' % (at.name, name))
        text = (node.text or '') + ''.join(c.tail or '' for c in node)
        children = list(node)
        if et.content == 'empty':
            if children or text.strip():
                errors.append('element %s must be empty' % name)
            return
        if et.content == 'textOnly':
            if children:
                errors.append('element %s must hold text only' % name)
            reason = check_value(et.dtype, [], (node.text or '').strip()) if et.dtype else None
            if reason:
                errors.append('text of %s: %s' % (name, reason))
            return
        if et.content == 'eltOnly' and text.strip():
            errors.append('element %s must not hold text' % name)
        allowed = model_names(et.model_tree)
        seen = []
        for child in children:
            curi, clocal = split(child.tag)
            key = (curi, clocal)
            if key in allowed:
                seen.append(key)
            elif et.model == 'closed':
                errors.append('element %s is not allowed in %s (closed model)' % (clocal, name))
        if et.content == 'mixed':
            return
        codes = {}
        pattern = model_regex(et.model_tree, codes)
        word = ''.join(codes.setdefault(k, chr(0x4E00 + len(codes))) for k in seen)
        if not re.fullmatch(pattern, word):
            errors.append('children of %s do not follow its content model: %s' %
                          (name, ' '.join(k[1] for k in seen) or '(none)'))


def xpath_rows(path):
    rows = []
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if not line or number == 1:
                continue
            cols = line.split('\t')
            if len(cols) != 5:
                rows.append((number, None, 'expected 5 tab-separated columns, got %d' % len(cols)))
                continue
            rows.append((number, cols, None))
    return rows


PREFIXED_NAME = re.compile(r'(?<![\w.\-"\'])([A-Za-z_][\w.\-]*):([A-Za-z_][\w.\-]*)')


def plain_names_document(text):
    """Drops namespace declarations and turns prefix:name into prefix_name, in tags and attributes."""
    text = re.sub(r'\s+xmlns(:[\w.\-]+)?\s*=\s*("[^"]*"|\'[^\']*\')', '', text)
    text = re.sub(r'<(/?)([A-Za-z_][\w.\-]*):', r'<\1\2_', text)
    text = re.sub(r'(\s)([A-Za-z_][\w.\-]*):([A-Za-z_][\w.\-]*)(\s*=)', r'\1\2_\3\4', text)
    return text


def plain_names_path(path):
    """Renames prefix:name outside quoted literals the same way."""
    out, quote = [], None
    for part in re.split(r'("[^"]*"|\'[^\']*\')', path):
        if part.startswith(('"', "'")):
            out.append(part)
        else:
            out.append(PREFIXED_NAME.sub(r'\1_\2', part))
    return ''.join(out)


def absolute(path):
    return path if path.startswith('/') else '/' + path


def xmllint_eval(xmllint, doc, expr):
    result = subprocess.run([xmllint, '--xpath', expr, doc], capture_output=True, text=True)
    if result.returncode not in (0, 10):
        return None, result.stderr.strip()
    return result.stdout, None


def check_xpaths(root, verbose):
    data = os.path.join(root, 'tests', 'data', 'xml')
    table = os.path.join(data, 'xpaths.tsv')
    failures = []
    xmllint = shutil.which('xmllint')
    rows = xpath_rows(table)
    with tempfile.TemporaryDirectory() as tmp:
        for number, cols, problem in rows:
            if problem:
                failures.append('xpaths.tsv line %d: %s' % (number, problem))
                continue
            path, doc, context, count, text = cols
            source = os.path.join(data, 'docs', doc)
            if not os.path.isfile(source):
                failures.append('xpaths.tsv line %d: no document %s' % (number, doc))
                continue
            if not re.fullmatch(r'\d+', count):
                failures.append('xpaths.tsv line %d: count %r is not a number' % (number, count))
                continue
            if xmllint is None:
                continue
            plain = os.path.join(tmp, doc)
            if not os.path.exists(plain):
                with open(source, encoding='utf-8') as f:
                    converted = plain_names_document(f.read())
                with open(plain, 'w', encoding='utf-8') as f:
                    f.write(converted)
            expr = plain_names_path(path)
            if context:
                ctx = '(%s)[1]' % absolute(plain_names_path(context))
                expr = expr if expr.startswith('/') else ctx + '/' + expr
            else:
                expr = absolute(expr)
            got_count, err = xmllint_eval(xmllint, plain, 'count(%s)' % expr)
            if err:
                failures.append('xpaths.tsv line %d: %s: %s' % (number, path, err))
                continue
            got_text, _ = xmllint_eval(xmllint, plain, 'string((%s)[1])' % expr)
            if got_count.strip() != count:
                failures.append('xpaths.tsv line %d: %s on %s selects %s nodes, table says %s'
                                % (number, path, doc, got_count.strip(), count))
            elif text and (got_text or '').strip() != text:
                failures.append('xpaths.tsv line %d: %s on %s gives %r, table says %r'
                                % (number, path, doc, (got_text or '').strip(), text))
            elif verbose:
                print('ok  %s  [%s]' % (path, doc))
    if xmllint is None:
        print('xmllint not found: xpaths.tsv rows checked for form only')
    return failures, len(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('root', nargs='?', default=os.path.join(os.path.dirname(__file__), '..'),
                        help='repository root')
    parser.add_argument('-v', '--verbose', action='store_true', help='list what passed and what is unused')
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    data = os.path.join(root, 'tests', 'data', 'xml')

    catalog = Catalog(os.path.join(root, 'frame', 'schemas'))
    failures = list(catalog.errors)
    validator = Validator(catalog)

    valid_dir = os.path.join(data, 'valid')
    valid = sorted(f for f in os.listdir(valid_dir) if f.endswith('.xml'))
    for name in valid:
        for e in validator.validate(os.path.join(valid_dir, name)):
            failures.append('valid/%s: %s' % (name, e))

    docs_dir = os.path.join(data, 'docs')
    docs = sorted(f for f in os.listdir(docs_dir) if f.endswith('.xml'))
    for name in docs:
        if name in UNVALIDATED_DOCS:
            continue
        for e in validator.validate(os.path.join(docs_dir, name)):
            failures.append('docs/%s: %s' % (name, e))

    invalid_dir = os.path.join(data, 'invalid')
    expected = {}
    with open(os.path.join(invalid_dir, 'expected.tsv'), encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            cols = line.rstrip('\n').split('\t')
            if number == 1 or not line.strip():
                continue
            if len(cols) != 2:
                failures.append('invalid/expected.tsv line %d: expected 2 columns' % number)
                continue
            expected[cols[0]] = cols[1]
    invalid = sorted(f for f in os.listdir(invalid_dir) if f.endswith('.xml'))
    for name in invalid:
        if name not in expected:
            failures.append('invalid/%s: not listed in expected.tsv' % name)
            continue
        errors = validator.validate(os.path.join(invalid_dir, name))
        if not errors:
            failures.append('invalid/%s: validates, but must fail' % name)
        elif not any(re.search(r'\b%s\b' % re.escape(expected[name]), e) for e in errors):
            failures.append('invalid/%s: errors do not name %s: %s' % (name, expected[name], errors))
        elif args.verbose:
            print('fails as expected: invalid/%s: %s' % (name, errors[0]))
    for name in expected:
        if name not in invalid:
            failures.append('invalid/expected.tsv lists %s, which does not exist' % name)

    xfailures, xcount = check_xpaths(root, args.verbose)
    failures.extend(xfailures)

    if args.verbose:
        for schema in catalog.schemas.values():
            for name in schema.elements:
                if (schema.uri, name) not in validator.used_elements:
                    print('unused element type: %s %s' % (schema.name, name))

    for f in failures:
        print('FAIL ' + f)
    print('%d schemas, %d valid documents, %d sample documents, %d invalid documents, %d paths: %s'
          % (len(catalog.schemas), len(valid), len(docs), len(invalid), xcount,
             'ok' if not failures else '%d problems' % len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
