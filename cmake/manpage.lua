-- A pandoc filter that makes one man page out of docs/commands.md:
--
--   pandoc -f gfm -t man -s --lua-filter cmake/manpage.lua -M page=velmorine docs/commands.md
--
-- page=velmorine: NAME, SYNOPSIS, DESCRIPTION (the text before the first
-- "## " heading), then every "## " section but those of the other tools.
-- page=velmorine-dis (or velmorine-dap): NAME, then the "### " sections of
-- "## velmorine-dis", with the text before the first of them as DESCRIPTION.
-- Both end in SEE ALSO.  Section names are upper case, links keep their
-- text only, and the title heading is left out.

local pages = {
  ["velmorine"] = {
    summary = "run, check, format and serve velmorine scripts",
    see_also = "velmorine-dis(1); the language guide, docs/language.md",
  },
  ["velmorine-dis"] = {
    summary = "list the instructions a velmorine script compiles to",
    see_also = "velmorine(1), velmorine-dap(1)",
  },
  ["velmorine-dap"] = {
    summary = "debug velmorine scripts from an editor",
    see_also = "velmorine(1), velmorine-dis(1)",
  },
}

local stringify = pandoc.utils.stringify

-- Words of a plain text as inlines.
local function words(text)
  local out = {}
  for word in text:gmatch("%S+") do
    if #out > 0 then table.insert(out, pandoc.Space()) end
    table.insert(out, pandoc.Str(word))
  end
  return out
end

-- Splits blocks at the headings of one level: the blocks before the first,
-- then {title, blocks} for each heading.
local function split(blocks, level)
  local intro, sections, current = {}, {}, nil
  for _, block in ipairs(blocks) do
    if block.t == "Header" and block.level == level then
      current = { title = stringify(block), blocks = {} }
      table.insert(sections, current)
    elseif current then
      table.insert(current.blocks, block)
    else
      table.insert(intro, block)
    end
  end
  return intro, sections
end

local function section(out, title, blocks, shift)
  table.insert(out, pandoc.Header(1, pandoc.Str(title:upper())))
  for _, block in ipairs(blocks) do
    if block.t == "Header" then
      block = pandoc.Header(block.level - shift, block.content)
    end
    table.insert(out, block)
  end
end

-- SYNOPSIS first, DESCRIPTION next (the introduction, then the blocks of a
-- section of that name), the rest in order.
local function page_body(intro, sections, shift, tools)
  local out, description = {}, {}
  for _, block in ipairs(intro) do table.insert(description, block) end
  for _, s in ipairs(sections) do
    local name = s.title:lower()
    if name == "synopsis" then section(out, "Synopsis", s.blocks, shift) end
    if name == "description" then
      for _, block in ipairs(s.blocks) do table.insert(description, block) end
    end
  end
  if #description > 0 then section(out, "Description", description, shift) end
  for _, s in ipairs(sections) do
    local name = s.title:lower()
    if name ~= "synopsis" and name ~= "description" and not (tools and pages[s.title]) then
      section(out, s.title, s.blocks, shift)
    end
  end
  return out
end

function Pandoc(doc)
  local name = stringify(doc.meta.page or "")
  local page = pages[name]
  if not page then
    error("manpage.lua: set the page metadata to velmorine, velmorine-dis or velmorine-dap, not '" .. name .. "'")
  end
  local blocks = {}
  for _, block in ipairs(doc.blocks) do  -- the title heading is the man page's own
    if not (block.t == "Header" and block.level == 1) then table.insert(blocks, block) end
  end
  local intro, sections = split(blocks, 2)
  local body
  if name == "velmorine" then
    body = page_body(intro, sections, 1, true)
  else
    local found
    for _, s in ipairs(sections) do
      if s.title == name then found = s end
    end
    if not found then error("manpage.lua: docs/commands.md has no section " .. name) end
    local tool_intro, tool_sections = split(found.blocks, 3)
    body = page_body(tool_intro, tool_sections, 2, false)
  end

  local out = {
    -- Without a glyph for the cross that lint prints, some output devices
    -- would warn; this one stands in only where the glyph is missing.
    pandoc.RawBlock("man", ".fchar \\[u274C] x"),
    pandoc.Header(1, pandoc.Str("NAME")),
    pandoc.Para(words(name .. " - " .. page.summary)),
  }
  for _, block in ipairs(body) do table.insert(out, block) end
  table.insert(out, pandoc.Header(1, pandoc.Str("SEE ALSO")))
  table.insert(out, pandoc.Para(words(page.see_also)))

  doc.meta.title = pandoc.MetaString(name)
  doc.meta.section = pandoc.MetaString("1")
  doc.meta.header = pandoc.MetaString("velmorine manual")
  doc.meta.footer = pandoc.MetaString("velmorine 3.0")
  doc.meta.page = nil
  return pandoc.Pandoc(out, doc.meta)
end

-- Links keep their text: their targets are pages of the source tree.
function Link(link)
  return link.content
end
